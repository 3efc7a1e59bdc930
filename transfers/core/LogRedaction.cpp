#include "core/LogRedaction.h"

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
    return std::isspace(static_cast<unsigned char>(c)) || c == '"' || c == '\'' || c == '<' || c == '>' ||
           c == '`' || c == '\\';
}

bool endsQueryValue(char c)
{
    return endsUrl(c) || c == '&' || c == '#' || c == ';' || c == ',';
}

// Index just past the JSON string that starts with the quote at `open`.
size_t skipJsonString(const std::string& s, size_t open)
{
    size_t i = open + 1;
    while (i < s.size() && s[i] != '"')
        i += (s[i] == '\\') ? 2 : 1;
    return i < s.size() ? i + 1 : s.size();
}

size_t skipSpaces(const std::string& s, size_t i)
{
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
        ++i;
    return i;
}

// Copies a URL starting at "://" and masks a password in its user information and every
// value of its query.
size_t redactUrl(const std::string& s, size_t begin, std::string& out)
{
    size_t i = begin;
    size_t authorityEnd = begin + 3;
    while (authorityEnd < s.size() && !endsUrl(s[authorityEnd]) && s[authorityEnd] != '/' && s[authorityEnd] != '?' &&
           s[authorityEnd] != '#')
        ++authorityEnd;
    const size_t at = s.rfind('@', authorityEnd - 1);
    if (at != std::string::npos && at >= begin + 3 && at < authorityEnd) {
        const size_t colon = s.find(':', begin + 3);
        const size_t userEnd = (colon != std::string::npos && colon < at) ? colon : at;
        out.append(s, begin, userEnd - begin);
        out += ":";
        out += kMask;
        i = at;
    }
    while (i < s.size() && !endsUrl(s[i]) && s[i] != '?')
        out += s[i++];
    if (i >= s.size() || s[i] != '?')
        return i;
    out += s[i++];
    while (i < s.size() && !endsUrl(s[i]) && s[i] != '#') {
        if (s[i] == '=') {
            out += '=';
            out += kMask;
            ++i;
            while (i < s.size() && !endsUrl(s[i]) && s[i] != '&' && s[i] != '#')
                ++i;
        } else {
            out += s[i++];
        }
    }
    return i;
}

// Copies the object or array at `open` with every string value in it masked; member names
// stay readable.
size_t redactNested(const std::string& s, size_t open, std::string& out)
{
    int depth = 0;
    size_t i = open;
    while (i < s.size()) {
        const char c = s[i];
        if (c == '"') {
            const size_t end = skipJsonString(s, i);
            const size_t next = skipSpaces(s, end);
            if (next < s.size() && s[next] == ':') {
                out.append(s, i, end - i);
            } else {
                out += '"';
                out += kMask;
                out += '"';
            }
            i = end;
            continue;
        }
        out += c;
        ++i;
        if (c == '{' || c == '[') {
            ++depth;
        } else if (c == '}' || c == ']') {
            if (--depth == 0)
                break;
        }
    }
    return i;
}

// Handles a quoted JSON member name at `open`; returns the index scanning resumes at.
size_t redactJsonMember(const std::string& s, size_t open, std::string& out)
{
    size_t close = skipJsonString(s, open);
    std::string name = s.substr(open + 1, close > open + 1 ? close - open - 2 : 0);
    size_t colon = skipSpaces(s, close);
    // Header sets that the service hands out may carry keys under any name.
    const bool secret = isSecretName(name) || Poco::icompare(name, "headers") == 0;
    if (colon >= s.size() || s[colon] != ':' || !secret) {
        out += '"';
        return open + 1; // scan the string's content too: it may hold a URL
    }
    size_t value = skipSpaces(s, colon + 1);
    out.append(s, open, value - open);
    if (value < s.size() && s[value] == '"') {
        out += '"';
        out += kMask;
        out += '"';
        return skipJsonString(s, value);
    }
    if (value < s.size() && (s[value] == '[' || s[value] == '{'))
        return redactNested(s, value, out);
    size_t end = value;
    while (end < s.size() && s[end] != ',' && s[end] != '}' && s[end] != ']' && s[end] != '\n')
        ++end;
    if (end > value) {
        std::string literal = Poco::trim(s.substr(value, end - value));
        if (literal == "null" || literal == "true" || literal == "false" || literal.empty() || literal[0] == '{' ||
            literal[0] == '[') {
            return value;
        }
        out += kMask;
    }
    return end;
}

} // namespace

bool isSecretName(const std::string& name)
{
    static const char* const kMarks[] = {"token",  "password", "passwd",     "secret", "signature",
                                         "authorization", "cookie", "credential", "apikey", "api_key"};
    const std::string lower = Poco::toLower(name);
    for (const char* mark : kMarks) {
        if (lower.find(mark) != std::string::npos)
            return true;
    }
    // "uploads" lists the help desk's attachment tokens; "...-key" headers carry encryption keys.
    const bool keyName = lower.size() >= 3 && lower.compare(lower.size() - 3, 3, "key") == 0;
    return lower == "sig" || lower == "pass" || lower == "uploads" || keyName || lower.find("-key") != std::string::npos ||
           lower.find("_key") != std::string::npos;
}

std::string redactSecrets(const std::string& s)
{
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        const char c = s[i];
        if (c == '"') {
            i = redactJsonMember(s, i, out);
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
        if (s.compare(end, 3, "://") == 0) {
            out += word;
            i = redactUrl(s, end, out);
            continue;
        }
        out += word;
        i = end;
        if (i < s.size() && (s[i] == '=' || s[i] == ':') && isSecretName(word)) {
            const bool header = s[i] == ':';
            out += s[i++];
            if (header) {
                size_t v = skipSpaces(s, i);
                out.append(s, i, v - i);
                i = v;
                while (i < s.size() && s[i] != '\r' && s[i] != '\n')
                    ++i;
            } else {
                while (i < s.size() && !endsQueryValue(s[i]))
                    ++i;
            }
            out += kMask;
        }
    }
    return out;
}

} // namespace fv_transfers
