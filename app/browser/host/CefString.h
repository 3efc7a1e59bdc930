#pragma once

#include <string>

namespace fvcef {

// Text crossing the browser layer, always UTF-8.
class CefString {
public:
    CefString() = default;
    CefString(std::string text) : m_text(std::move(text)) {}
    CefString(const char* text) : m_text(text ? text : "") {}

    const std::string& ToString() const { return m_text; }
    operator const std::string&() const { return m_text; }
    bool empty() const { return m_text.empty(); }
    bool operator==(const CefString& other) const { return m_text == other.m_text; }
    bool operator!=(const CefString& other) const { return m_text != other.m_text; }

private:
    std::string m_text;
};

} // namespace fvcef
