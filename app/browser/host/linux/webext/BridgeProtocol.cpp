#include "BridgeProtocol.h"

#include <algorithm>
#include <cctype>

namespace ferrovan::bridge {

namespace {

constexpr const char* kQueryShape = "(stsbsb)";
constexpr const char* kCancelShape = "(t)";
constexpr const char* kReplyShape = "(yis)";
constexpr const char* kSetupShape = "(assb)";
constexpr const char* kConsoleShape = "(yssu)";

std::string lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

int defaultPort(const std::string& scheme)
{
    return scheme == "https" ? 443 : 80;
}

// The digits of a port, or -1 when they are not one.
int parsePort(const std::string& digits)
{
    if (digits.empty() || digits.size() > 5)
        return -1;
    int port = 0;
    for (char c : digits) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return -1;
        port = port * 10 + (c - '0');
    }
    return port <= 65535 ? port : -1;
}

bool hasShape(GVariant* value, const char* shape)
{
    return value != nullptr && g_variant_is_of_type(value, G_VARIANT_TYPE(shape));
}

} // namespace

WebOrigin parseWebOrigin(const std::string& url)
{
    WebOrigin origin;
    const std::size_t colon = url.find(':');
    if (colon == std::string::npos)
        return origin;
    const std::string scheme = lowered(url.substr(0, colon));
    if ((scheme != "http" && scheme != "https") || url.compare(colon + 1, 2, "//") != 0)
        return origin;
    const std::size_t start = colon + 3;
    // A backslash ends the authority as a slash does in the page's own parser.
    const std::size_t end = std::min(url.find_first_of("/\\?#", start), url.size());
    std::string authority = url.substr(start, end - start);
    const std::size_t at = authority.rfind('@');
    if (at != std::string::npos)
        authority.erase(0, at + 1);

    std::string host;
    std::string port;
    if (!authority.empty() && authority[0] == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string::npos)
            return origin;
        host = authority.substr(0, close + 1);
        const std::string rest = authority.substr(close + 1);
        if (!rest.empty() && rest[0] != ':')
            return origin;
        port = rest.empty() ? std::string() : rest.substr(1);
    } else {
        const std::size_t portColon = authority.rfind(':');
        host = authority.substr(0, portColon);
        if (portColon != std::string::npos)
            port = authority.substr(portColon + 1);
    }
    if (host.empty())
        return origin;
    origin.port = port.empty() ? defaultPort(scheme) : parsePort(port);
    if (origin.port <= 0)
        return origin;
    origin.scheme = scheme;
    origin.host = lowered(host);
    origin.valid = true;
    return origin;
}

bool sameWebOrigin(const WebOrigin& a, const WebOrigin& b)
{
    return a.valid && b.valid && a.scheme == b.scheme && a.host == b.host && a.port == b.port;
}

bool sameWebOrigin(const std::string& urlA, const std::string& urlB)
{
    return sameWebOrigin(parseWebOrigin(urlA), parseWebOrigin(urlB));
}

GVariant* toVariant(const QueryMessage& message)
{
    return g_variant_new(kQueryShape, message.bridge.c_str(), static_cast<guint64>(message.requestId),
                         message.request.c_str(), static_cast<gboolean>(message.persistent), message.frameUrl.c_str(),
                         static_cast<gboolean>(message.mainFrame));
}

GVariant* toVariant(const CancelMessage& message)
{
    return g_variant_new(kCancelShape, static_cast<guint64>(message.requestId));
}

GVariant* toVariant(const ReplyMessage& reply)
{
    return g_variant_new(kReplyShape, static_cast<guchar>(reply.kind), static_cast<gint32>(reply.code),
                         reply.text.c_str());
}

GVariant* toVariant(const ExtensionSetup& setup)
{
    GVariantBuilder names;
    g_variant_builder_init(&names, G_VARIANT_TYPE("as"));
    for (const std::string& name : setup.bridgeNames)
        g_variant_builder_add(&names, "s", name.c_str());
    return g_variant_new(kSetupShape, &names, setup.webAppUrl.c_str(), static_cast<gboolean>(setup.forwardConsole));
}

GVariant* toVariant(const ConsoleMessage& message)
{
    return g_variant_new(kConsoleShape, static_cast<guchar>(message.level), message.text.c_str(),
                         message.source.c_str(), static_cast<guint32>(message.line));
}

bool fromVariant(GVariant* value, QueryMessage& message)
{
    if (!hasShape(value, kQueryShape))
        return false;
    const char* bridge = nullptr;
    guint64 requestId = 0;
    const char* request = nullptr;
    gboolean persistent = FALSE;
    const char* frameUrl = nullptr;
    gboolean mainFrame = FALSE;
    g_variant_get(value, "(&st&sb&sb)", &bridge, &requestId, &request, &persistent, &frameUrl, &mainFrame);
    message = QueryMessage{bridge, requestId, request, persistent != FALSE, frameUrl, mainFrame != FALSE};
    return true;
}

bool fromVariant(GVariant* value, CancelMessage& message)
{
    if (!hasShape(value, kCancelShape))
        return false;
    guint64 requestId = 0;
    g_variant_get(value, kCancelShape, &requestId);
    message.requestId = requestId;
    return true;
}

bool fromVariant(GVariant* value, ReplyMessage& reply)
{
    if (!hasShape(value, kReplyShape))
        return false;
    guchar kind = 0;
    gint32 code = 0;
    const char* text = nullptr;
    g_variant_get(value, "(yi&s)", &kind, &code, &text);
    if (kind > static_cast<guchar>(ReplyKind::Dropped))
        return false;
    reply = ReplyMessage{static_cast<ReplyKind>(kind), code, text};
    return true;
}

bool fromVariant(GVariant* value, ExtensionSetup& setup)
{
    if (!hasShape(value, kSetupShape))
        return false;
    GVariantIter* names = nullptr;
    const char* webAppUrl = nullptr;
    gboolean forwardConsole = FALSE;
    g_variant_get(value, "(as&sb)", &names, &webAppUrl, &forwardConsole);
    setup = ExtensionSetup{{}, webAppUrl, forwardConsole != FALSE};
    const char* name = nullptr;
    while (g_variant_iter_next(names, "&s", &name))
        setup.bridgeNames.emplace_back(name);
    g_variant_iter_free(names);
    return true;
}

bool fromVariant(GVariant* value, ConsoleMessage& message)
{
    if (!hasShape(value, kConsoleShape))
        return false;
    guchar level = 0;
    const char* text = nullptr;
    const char* source = nullptr;
    guint32 line = 0;
    g_variant_get(value, "(y&s&su)", &level, &text, &source, &line);
    if (level > static_cast<guchar>(ConsoleLevel::Error))
        return false;
    message = ConsoleMessage{static_cast<ConsoleLevel>(level), text, source, line};
    return true;
}

} // namespace ferrovan::bridge
