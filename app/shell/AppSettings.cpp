#include "shell/AppSettings.h"

#include "shell/JsonFile.h"

#include <exception>

namespace ferrovan {

namespace {

constexpr std::int32_t kMinWidth = 200;
constexpr std::int32_t kMinHeight = 100;

} // namespace

AppSettings::AppSettings(const std::string& path) : m_path(path)
{
    // Nothing in a settings file may stop start-up: the reading and every conversion that could
    // throw catch their own failures.
    Json::Value root;
    if (readFileToString(m_path, root))
        applyJson(root);
}

void AppSettings::applyJson(const Json::Value& root)
{
    // A valid root of another kind ([] or 5) throws on member access.
    if (!root.isObject())
        return;
    const Json::Value& window = root["window"];
    if (window.isObject())
        applyWindow(window);
    const Json::Value& autoUpdates = root["autoUpdatesEnabled"];
    if (autoUpdates.isBool())
        m_autoUpdatesEnabled = autoUpdates.asBool();
}

void AppSettings::applyWindow(const Json::Value& window)
{
    // All or nothing: a member of the wrong type, or a number out of range, throws before any
    // field is stored.
    std::int32_t top = 0;
    std::int32_t left = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool maximized = false;
    try {
        top = window["top"].asInt();
        left = window["left"].asInt();
        width = window["width"].asInt();
        height = window["height"].asInt();
        maximized = window["maximized"].asBool();
    } catch (const std::exception&) {
        return;
    }
    // Negative edges are kept: a window on a monitor left of or above the primary one.
    m_top = top;
    m_left = left;
    m_width = width < kMinWidth ? kDefaultWidth : width;
    m_height = height < kMinHeight ? kDefaultHeight : height;
    m_maximized = maximized;
}

Json::Value AppSettings::toJson() const
{
    Json::Value root(Json::objectValue);
    Json::Value& window = root["window"];
    window["top"] = m_top;
    window["left"] = m_left;
    window["width"] = m_width;
    window["height"] = m_height;
    window["maximized"] = m_maximized;
    root["autoUpdatesEnabled"] = m_autoUpdatesEnabled;
    return root;
}

void AppSettings::setWindowPosition(std::int32_t top, std::int32_t left)
{
    m_top = top;
    m_left = left;
    save();
}

void AppSettings::setWindowRect(std::int32_t top, std::int32_t left, std::int32_t width, std::int32_t height)
{
    setWindowPlacement(top, left, width, height, m_maximized);
}

void AppSettings::setWindowSize(std::int32_t width, std::int32_t height, bool maximized)
{
    m_width = width;
    m_height = height;
    m_maximized = maximized;
    save();
}

void AppSettings::setWindowPlacement(std::int32_t top, std::int32_t left, std::int32_t width, std::int32_t height,
                                     bool maximized)
{
    m_top = top;
    m_left = left;
    m_width = width;
    m_height = height;
    m_maximized = maximized;
    save();
}

bool AppSettings::save() const
{
    return writeJsonToFile(m_path, toJson());
}

} // namespace ferrovan
