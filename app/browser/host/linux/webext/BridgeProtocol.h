#pragma once

#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What the program and its web-process extension say to each other about the page's bridge
// functions. Both sides build with this file, so it needs nothing beyond GLib and the
// standard library.
namespace ferrovan::bridge {

// Messages from the page's process to the program's view; a query is answered with a reply.
constexpr const char* kQueryMessage = "fv-bridge-query";
constexpr const char* kCancelMessage = "fv-bridge-cancel";
constexpr const char* kReplyMessage = "fv-bridge-reply";
// The page's main document was replaced: queries of the earlier one are orphans.
constexpr const char* kDocumentMessage = "fv-bridge-document";
// A line of the page's console, sent only when the setup asks for them; never answered.
constexpr const char* kConsoleMessage = "fv-console";

constexpr std::size_t kMaxRequestBytes = 64u * 1024u * 1024u;
constexpr int kFailureCode = -1;
constexpr const char* kCanceledText = "The query has been canceled";
constexpr const char* kTooLargeText = "Request too large";
constexpr const char* kRefusedText = "Query refused";
constexpr const char* kCancelFunction = "cefQueryCancel";

// Scheme, host and port of an http or https address. Any other address has no origin that
// may be trusted: it is never the same as another.
struct WebOrigin {
    std::string scheme; // lower case
    std::string host;   // lower case; an IPv6 address keeps its brackets
    int port = 0;       // the scheme's default when the address names none
    bool valid = false;
};

WebOrigin parseWebOrigin(const std::string& url);
bool sameWebOrigin(const WebOrigin& a, const WebOrigin& b);
bool sameWebOrigin(const std::string& urlA, const std::string& urlB);

struct QueryMessage {
    std::string bridge;
    std::uint64_t requestId = 0; // the page process's number, unique within its page
    std::string request;
    bool persistent = false;
    std::string frameUrl;
    bool mainFrame = false;
};

struct CancelMessage {
    std::uint64_t requestId = 0;
};

enum class ReplyKind : std::uint8_t {
    Success = 0,
    Failure = 1,
    // The query's document is gone: nothing may reach the page.
    Dropped = 2,
};

struct ReplyMessage {
    ReplyKind kind = ReplyKind::Dropped;
    int code = 0;
    std::string text;
};

enum class ConsoleLevel : std::uint8_t {
    Debug = 0,
    Log = 1,
    Info = 2,
    Warning = 3,
    Error = 4,
};

struct ConsoleMessage {
    ConsoleLevel level = ConsoleLevel::Log;
    std::string text;
    std::string source; // the script's address, may be empty
    std::uint32_t line = 0;
};

// What the program hands the extension when a page process starts.
struct ExtensionSetup {
    std::vector<std::string> bridgeNames;
    std::string webAppUrl;
    // The page's console goes to the program's browser log; for tests and developers only,
    // since the page may print what a user typed.
    bool forwardConsole = false;
};

// Floating references, for a message or reply to take. Each reader gives false for a value
// of another shape, and never reads more than the shape holds.
GVariant* toVariant(const QueryMessage& message);
GVariant* toVariant(const CancelMessage& message);
GVariant* toVariant(const ReplyMessage& reply);
GVariant* toVariant(const ExtensionSetup& setup);
GVariant* toVariant(const ConsoleMessage& message);
bool fromVariant(GVariant* value, QueryMessage& message);
bool fromVariant(GVariant* value, CancelMessage& message);
bool fromVariant(GVariant* value, ReplyMessage& reply);
bool fromVariant(GVariant* value, ExtensionSetup& setup);
bool fromVariant(GVariant* value, ConsoleMessage& message);

} // namespace ferrovan::bridge
