// The page process's half of the bridge: it gives the web application's main document one
// function per bridge name and the cancel function, sends each query to the program's view and
// hands the reply back to the page; when the program asks for it, it also passes on the page's
// console lines. Built without the program's libraries, to be loaded by WebKit's page processes.
#include "browser/host/linux/webext/BridgeProtocol.h"

#include <webkit2/webkit-web-extension.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

using namespace ferrovan::bridge;

// Runs in the page before any of its own scripts. The page's functions check their argument
// here, where a TypeError is the page's own; `send` answers 0 for a request too large to send.
// The returned function delivers replies; a reply for a query it does not know (cancelled, or
// of an earlier document) is dropped.
constexpr const char* kPageScript = R"JS(
(function (send, cancel, names, cancelName, tooLargeText) {
  'use strict';
  const BadArgument = TypeError;
  const later = Promise.resolve.bind(Promise);
  const pending = new Map();
  const define = (name, value) => Object.defineProperty(window, name,
      {value: value, writable: false, enumerable: false, configurable: false});
  for (const name of names) {
    define(name, function (query) {
      if (query === null || typeof query !== 'object' || typeof query.request !== 'string')
        throw new BadArgument(name + ': expects an object whose request is a string');
      const onSuccess = typeof query.onSuccess === 'function' ? query.onSuccess : null;
      const onFailure = typeof query.onFailure === 'function' ? query.onFailure : null;
      const id = send(name, query.request, query.persistent === true);
      if (id === 0) {
        later().then(() => { if (onFailure) onFailure(-1, tooLargeText); });
        return 0;
      }
      pending.set(id, {onSuccess: onSuccess, onFailure: onFailure});
      return id;
    });
  }
  define(cancelName, function (id) {
    if (pending.delete(id))
      cancel(id);
  });
  return function (id, success, code, text) {
    const entry = pending.get(id);
    if (!entry)
      return;
    pending.delete(id);
    if (success) {
      if (entry.onSuccess)
        entry.onSuccess(text);
    } else if (entry.onFailure) {
      entry.onFailure(code, text);
    }
  };
})
)JS";

constexpr const char* kPageDataKey = "ferrovan-bridge";
// Longer console lines are cut: the log is for reading, not for the page's data.
constexpr std::size_t kMaxConsoleBytes = 16 * 1024;

struct Extension {
    WebKitWebExtension* extension = nullptr;
    ExtensionSetup setup;
};

Extension& extension()
{
    static Extension instance;
    return instance;
}

// A page's bridge: ids are never reused within the page, so a late reply cannot reach a query
// of a later document.
struct PageBridge {
    guint64 nextRequestId = 1;
    JSCValue* deliver = nullptr; // the current document's, owned

    ~PageBridge() { release(); }
    void release()
    {
        if (deliver != nullptr)
            g_object_unref(deliver);
        deliver = nullptr;
    }
};

PageBridge& pageBridge(WebKitWebPage* page)
{
    auto* bridge = static_cast<PageBridge*>(g_object_get_data(G_OBJECT(page), kPageDataKey));
    if (bridge == nullptr) {
        bridge = new PageBridge;
        g_object_set_data_full(G_OBJECT(page), kPageDataKey, bridge,
                               [](gpointer data) { delete static_cast<PageBridge*>(data); });
    }
    return *bridge;
}

struct PendingReply {
    guint64 pageId;
    guint64 requestId;
};

void deliver(WebKitWebPage* page, guint64 requestId, const ReplyMessage& reply)
{
    PageBridge& bridge = pageBridge(page);
    if (bridge.deliver == nullptr || reply.kind == ReplyKind::Dropped)
        return;
    JSCContext* context = jsc_value_get_context(bridge.deliver);
    JSCValue* result = jsc_value_function_call(bridge.deliver, G_TYPE_DOUBLE, static_cast<double>(requestId),
                                               G_TYPE_BOOLEAN, reply.kind == ReplyKind::Success, G_TYPE_INT, reply.code,
                                               G_TYPE_STRING, reply.text.c_str(), G_TYPE_NONE);
    if (result != nullptr)
        g_object_unref(result);
    // What the page's own callback threw stays with the page.
    jsc_context_clear_exception(context);
}

void onQueryReplied(GObject* source, GAsyncResult* result, gpointer data)
{
    const std::unique_ptr<PendingReply> pending(static_cast<PendingReply*>(data));
    GError* error = nullptr;
    WebKitUserMessage* answer = webkit_web_page_send_message_to_view_finish(WEBKIT_WEB_PAGE(source), result, &error);
    ReplyMessage reply{ReplyKind::Failure, kFailureCode, kCanceledText};
    if (answer != nullptr) {
        if (!fromVariant(webkit_user_message_get_parameters(answer), reply))
            reply = ReplyMessage{ReplyKind::Failure, kFailureCode, kCanceledText};
        g_object_unref(answer);
    }
    if (error != nullptr)
        g_error_free(error);
    WebKitWebPage* page = webkit_web_extension_get_page(extension().extension, pending->pageId);
    if (page != nullptr)
        deliver(page, pending->requestId, reply);
}

void onNoticeSent(GObject* source, GAsyncResult* result, gpointer)
{
    WebKitUserMessage* answer = webkit_web_page_send_message_to_view_finish(WEBKIT_WEB_PAGE(source), result, nullptr);
    if (answer != nullptr)
        g_object_unref(answer);
}

// What a document's functions act for: its page, and the frame they were defined in.
struct FunctionTarget {
    guint64 pageId;
    GWeakRef frame;
};

gpointer newTarget(WebKitWebPage* page, WebKitFrame* frame)
{
    auto* target = new FunctionTarget{webkit_web_page_get_id(page), {}};
    g_weak_ref_init(&target->frame, frame);
    return target;
}

void freeTarget(gpointer data)
{
    auto* target = static_cast<FunctionTarget*>(data);
    g_weak_ref_clear(&target->frame);
    delete target;
}

double sendQuery(const char* bridge, const char* request, gboolean persistent, gpointer data)
{
    auto* target = static_cast<FunctionTarget*>(data);
    WebKitWebPage* page = webkit_web_extension_get_page(extension().extension, target->pageId);
    if (page == nullptr || bridge == nullptr || request == nullptr || std::strlen(request) > kMaxRequestBytes)
        return 0;
    auto* frame = static_cast<WebKitFrame*>(g_weak_ref_get(&target->frame));
    if (frame == nullptr)
        return 0;
    QueryMessage query;
    query.bridge = bridge;
    query.requestId = pageBridge(page).nextRequestId++;
    query.request = request;
    query.persistent = persistent != FALSE;
    const char* frameUrl = webkit_frame_get_uri(frame);
    query.frameUrl = frameUrl != nullptr ? frameUrl : "";
    query.mainFrame = webkit_frame_is_main_frame(frame) != FALSE;
    g_object_unref(frame);
    WebKitUserMessage* message = webkit_user_message_new(kQueryMessage, toVariant(query));
    webkit_web_page_send_message_to_view(page, message, nullptr, onQueryReplied,
                                         new PendingReply{target->pageId, query.requestId});
    return static_cast<double>(query.requestId);
}

void cancelQuery(double requestId, gpointer data)
{
    auto* target = static_cast<FunctionTarget*>(data);
    WebKitWebPage* page = webkit_web_extension_get_page(extension().extension, target->pageId);
    if (page == nullptr || requestId < 1)
        return;
    WebKitUserMessage* message =
        webkit_user_message_new(kCancelMessage, toVariant(CancelMessage{static_cast<guint64>(requestId)}));
    webkit_web_page_send_message_to_view(page, message, nullptr, onNoticeSent, nullptr);
}

void defineBridge(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame, PageBridge& bridge)
{
    JSCContext* context = webkit_frame_get_js_context_for_script_world(frame, world);
    JSCValue* send = jsc_value_new_function(context, nullptr, G_CALLBACK(sendQuery), newTarget(page, frame), freeTarget,
                                            G_TYPE_DOUBLE, 3, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_BOOLEAN);
    JSCValue* cancel = jsc_value_new_function(context, nullptr, G_CALLBACK(cancelQuery), newTarget(page, frame),
                                              freeTarget, G_TYPE_NONE, 1, G_TYPE_DOUBLE);
    const std::vector<std::string>& names = extension().setup.bridgeNames;
    std::vector<const char*> nameList;
    for (const std::string& name : names)
        nameList.push_back(name.c_str());
    nameList.push_back(nullptr);
    JSCValue* nameArray = jsc_value_new_array_from_strv(context, const_cast<char**>(nameList.data()));
    JSCValue* factory = jsc_context_evaluate(context, kPageScript, -1);
    JSCValue* deliverFunction =
        jsc_value_function_call(factory, JSC_TYPE_VALUE, send, JSC_TYPE_VALUE, cancel, JSC_TYPE_VALUE, nameArray,
                                G_TYPE_STRING, kCancelFunction, G_TYPE_STRING, kTooLargeText, G_TYPE_NONE);
    if (deliverFunction != nullptr && jsc_value_is_function(deliverFunction))
        bridge.deliver = deliverFunction;
    else if (deliverFunction != nullptr)
        g_object_unref(deliverFunction);
    jsc_context_clear_exception(context);
    g_object_unref(factory);
    g_object_unref(nameArray);
    g_object_unref(cancel);
    g_object_unref(send);
    g_object_unref(context);
}

// A new document's window: the bridge of the earlier one ends, and only the web
// application's main document gets one again.
void onWindowObjectCleared(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame, gpointer)
{
    if (!webkit_frame_is_main_frame(frame))
        return;
    PageBridge& bridge = pageBridge(page);
    bridge.release();
    // Told whatever the new document is: the program then lets go of the old one's queries.
    webkit_web_page_send_message_to_view(page, webkit_user_message_new(kDocumentMessage, nullptr), nullptr,
                                         onNoticeSent, nullptr);
    const char* uri = webkit_frame_get_uri(frame);
    if (uri == nullptr || !sameWebOrigin(uri, extension().setup.webAppUrl))
        return;
    defineBridge(world, page, frame, bridge);
}

ConsoleLevel levelOf(WebKitConsoleMessageLevel level)
{
    switch (level) {
    case WEBKIT_CONSOLE_MESSAGE_LEVEL_DEBUG: return ConsoleLevel::Debug;
    case WEBKIT_CONSOLE_MESSAGE_LEVEL_INFO: return ConsoleLevel::Info;
    case WEBKIT_CONSOLE_MESSAGE_LEVEL_WARNING: return ConsoleLevel::Warning;
    case WEBKIT_CONSOLE_MESSAGE_LEVEL_ERROR: return ConsoleLevel::Error;
    default: return ConsoleLevel::Log;
    }
}

// GVariant strings must be UTF-8, and a page may log anything.
std::string validText(const char* text, gssize maxBytes = -1)
{
    if (text == nullptr)
        return std::string();
    char* valid = g_utf8_make_valid(text, maxBytes);
    std::string result(valid);
    g_free(valid);
    return result;
}

void onConsoleMessage(WebKitWebPage* page, WebKitConsoleMessage* console, gpointer)
{
    const char* text = webkit_console_message_get_text(console);
    const bool tooLong = text != nullptr && std::strlen(text) > kMaxConsoleBytes;
    ConsoleMessage message;
    message.level = levelOf(webkit_console_message_get_level(console));
    message.text = validText(text, tooLong ? static_cast<gssize>(kMaxConsoleBytes) : -1) + (tooLong ? "..." : "");
    message.source = validText(webkit_console_message_get_source_id(console));
    message.line = webkit_console_message_get_line(console);
    // Nothing to wait for: the program only writes the line down.
    webkit_web_page_send_message_to_view(page, webkit_user_message_new(kConsoleMessage, toVariant(message)), nullptr,
                                         nullptr, nullptr);
}

void onPageCreated(WebKitWebExtension*, WebKitWebPage* page, gpointer)
{
    g_signal_connect(page, "console-message-sent", G_CALLBACK(onConsoleMessage), nullptr);
}

} // namespace

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize_with_user_data(WebKitWebExtension* webExtension,
                                                                               const GVariant* data)
{
    Extension& state = extension();
    state.extension = webExtension;
    // Without its setup the extension gives no page a bridge.
    if (!fromVariant(const_cast<GVariant*>(data), state.setup))
        return;
    g_signal_connect(webkit_script_world_get_default(), "window-object-cleared", G_CALLBACK(onWindowObjectCleared),
                     nullptr);
    if (state.setup.forwardConsole)
        g_signal_connect(webExtension, "page-created", G_CALLBACK(onPageCreated), nullptr);
}
