#include "core/log/LogRedaction.h"

#include <Poco/String.h>

#include <cctype>

namespace fv_transfers {

namespace {

const char* const kMask = "***";

bool isWordChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.';
}

bool endsUrl(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) || c == '"' || c == '\'' || c == '<' || c == '>' || c == '`' ||
           c == '\\';
}

bool endsQueryValue(char c)
{
    return endsUrl(c) || c == '&' || c == '#' || c == ';' || c == ',';
}

size_t skipBlanks(const std::string& s, size_t i)
{
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
        ++i;
    return i;
}

size_t skipWhitespace(const std::string& s, size_t i)
{
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i])))
        ++i;
    return i;
}

// JSON strings are quoted with `"`; JSON carried inside a JSON string with `\"`.
struct Quote {
    const char* text;
    size_t size() const { return text[1] == '\0' ? 1 : 2; }
    bool at(const std::string& s, size_t i) const { return s.compare(i, size(), text) == 0; }
};
const Quote kPlainQuote{"\""};
const Quote kEscapedQuote{"\\\""};

// Index just past the string whose opening quote is at `open`.
size_t skipString(const std::string& s, size_t open, const Quote& q)
{
    size_t i = open + q.size();
    while (i < s.size() && !q.at(s, i))
        i += (q.size() == 1 && s[i] == '\\') ? 2 : 1;
    return i < s.size() ? i + q.size() : s.size();
}

void appendMaskedString(std::string& out, const Quote& q)
{
    out += q.text;
    out += kMask;
    out += q.text;
}

// Copies a URL starting at "://" and masks its user information and every value of its query.
size_t redactUrl(const std::string& s, size_t begin, std::string& out)
{
    size_t i = begin;
    size_t end = begin + 3;
    while (end < s.size() && !endsUrl(s[end]))
        ++end;
    // A password may hold unencoded "/" or "?": everything up to the last "@" is user information.
    const size_t at = s.rfind('@', end - 1);
    if (at != std::string::npos && at >= begin + 3 && at < end) {
        const size_t colon = s.find(':', begin + 3);
        const size_t userEnd = (colon != std::string::npos && colon < at) ? colon : at;
        out.append(s, begin, userEnd - begin);
        out += ":";
        out += kMask;
        i = at;
    }
    while (i < end && s[i] != '?')
        out += s[i++];
    if (i >= end)
        return i;
    out += s[i++];
    while (i < end && s[i] != '#') {
        if (s[i] == '=') {
            out += '=';
            out += kMask;
            ++i;
            while (i < end && s[i] != '&' && s[i] != '#')
                ++i;
        } else {
            out += s[i++];
        }
    }
    return i;
}

// Copies the object or array at `open` with every string value in it masked; member names
// stay readable.
size_t redactNested(const std::string& s, size_t open, const Quote& q, std::string& out)
{
    int depth = 0;
    size_t i = open;
    while (i < s.size()) {
        if (q.at(s, i)) {
            const size_t end = skipString(s, i, q);
            const size_t next = skipWhitespace(s, end);
            if (next < s.size() && s[next] == ':')
                out.append(s, i, end - i);
            else
                appendMaskedString(out, q);
            i = end;
            continue;
        }
        const char c = s[i++];
        out += c;
        if (c == '{' || c == '[') {
            ++depth;
        } else if (c == '}' || c == ']') {
            if (--depth == 0)
                break;
        }
    }
    return i;
}

// Handles a quoted member name at `open`; returns the index scanning resumes at.
size_t redactJsonMember(const std::string& s, size_t open, const Quote& q, std::string& out)
{
    const size_t close = skipString(s, open, q);
    const size_t nameLength = close >= open + 2 * q.size() ? close - open - 2 * q.size() : 0;
    const std::string name = s.substr(open + q.size(), nameLength);
    const size_t colon = skipWhitespace(s, close);
    // Header sets that the service hands out may carry keys under any name.
    const bool secret = isSecretName(name) || Poco::icompare(name, "headers") == 0;
    if (colon >= s.size() || s[colon] != ':' || !secret) {
        out += q.text;
        return open + q.size(); // scan the string's content too: it may hold a URL or JSON
    }
    const size_t value = skipWhitespace(s, colon + 1);
    out.append(s, open, value - open);
    if (q.at(s, value)) {
        appendMaskedString(out, q);
        return skipString(s, value, q);
    }
    if (value < s.size() && (s[value] == '[' || s[value] == '{'))
        return redactNested(s, value, q, out);
    size_t end = value;
    while (end < s.size() && s[end] != ',' && s[end] != '}' && s[end] != ']' && s[end] != '\n' && s[end] != '\\')
        ++end;
    const std::string literal = Poco::trim(s.substr(value, end - value));
    if (literal.empty() || literal == "null" || literal == "true" || literal == "false")
        return value;
    out += kMask;
    return end;
}

// "<SignatureProvided>abc</SignatureProvided>" in storage error bodies.
size_t redactXmlElement(const std::string& s, size_t open, std::string& out)
{
    size_t end = open + 1;
    while (end < s.size() && isWordChar(s[end]))
        ++end;
    const std::string tag = s.substr(open + 1, end - open - 1);
    if (end >= s.size() || s[end] != '>' || tag.empty() || !isSecretName(tag)) {
        out += '<';
        return open + 1;
    }
    out.append(s, open, end + 1 - open);
    out += kMask;
    size_t i = end + 1;
    while (i < s.size() && s[i] != '<')
        ++i;
    return i;
}

// The value after a secret name and its "=" or ":"; `i` is at the operator.
size_t redactAssignedValue(const std::string& s, size_t i, std::string& out)
{
    const bool header = s[i] == ':';
    out += s[i++];
    const size_t v = skipBlanks(s, i);
    out.append(s, i, v - i);
    i = v;
    if (i < s.size() && (s[i] == '"' || s[i] == '\'')) {
        const char quote = s[i];
        const size_t close = s.find(quote, i + 1);
        out += quote;
        out += kMask;
        out += quote;
        return close == std::string::npos ? s.size() : close + 1;
    }
    if (header) {
        while (i < s.size() && s[i] != '\r' && s[i] != '\n')
            ++i;
    } else {
        while (i < s.size() && !endsQueryValue(s[i]))
            ++i;
    }
    out += kMask;
    return i;
}

bool isAuthScheme(const std::string& word)
{
    return Poco::icompare(word, "Bearer") == 0 || Poco::icompare(word, "Basic") == 0;
}

} // namespace

bool isSecretName(const std::string& name)
{
    static const char* const kMarks[] = {"token",  "password",   "passwd", "secret",  "signature", "authorization",
                                         "cookie", "credential", "apikey", "api_key", "accesskey"};
    const std::string lower = Poco::toLower(name);
    for (const char* mark : kMarks) {
        if (lower.find(mark) != std::string::npos)
            return true;
    }
    // "uploads" lists the help desk's attachment tokens; "...-key" headers carry encryption keys.
    const bool keyName = lower.size() >= 3 && lower.compare(lower.size() - 3, 3, "key") == 0;
    return lower == "sig" || lower == "pass" || lower == "uploads" || keyName ||
           lower.find("-key") != std::string::npos || lower.find("_key") != std::string::npos;
}

std::string redactSecrets(const std::string& s)
{
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        const char c = s[i];
        if (kPlainQuote.at(s, i)) {
            i = redactJsonMember(s, i, kPlainQuote, out);
            continue;
        }
        if (kEscapedQuote.at(s, i)) {
            i = redactJsonMember(s, i, kEscapedQuote, out);
            continue;
        }
        if (c == '<') {
            i = redactXmlElement(s, i, out);
            continue;
        }
        if (!isWordChar(c)) {
            out += c;
            ++i;
            continue;
        }
        size_t end = i;
        while (end < s.size() && isWordChar(s[end]))
            ++end;
        const std::string word = s.substr(i, end - i);
        out += word;
        i = end;
        if (s.compare(i, 3, "://") == 0) {
            i = redactUrl(s, i, out);
            continue;
        }
        if (isAuthScheme(word) && i + 1 < s.size() && s[i] == ' ' && isWordChar(s[i + 1])) {
            out += ' ';
            out += kMask;
            i += 1;
            while (i < s.size() && !std::isspace(static_cast<unsigned char>(s[i])) && s[i] != '"')
                ++i;
            continue;
        }
        if (isSecretName(word)) {
            const size_t op = skipBlanks(s, i);
            if (op < s.size() && (s[op] == '=' || s[op] == ':')) {
                out.append(s, i, op - i);
                i = redactAssignedValue(s, op, out);
            }
        }
    }
    return out;
}

} // namespace fv_transfers
