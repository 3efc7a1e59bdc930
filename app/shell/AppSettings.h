#pragma once

#include <json/json.h>

#include <cstdint>
#include <string>

namespace ferrovan {

// The settings the program itself owns, kept in "fv_settings.json": the main window's placement
// and the automatic-update switch. Loaded once when made: a missing, oversized or malformed file
// leaves the defaults and never stops start-up. Every setter writes the whole file again.
class AppSettings {
public:
    // The main window's size at a first start.
    static constexpr std::int32_t kDefaultWidth = 1400;
    static constexpr std::int32_t kDefaultHeight = 900;

    explicit AppSettings(const std::string& path);

    std::int32_t getTop() const { return m_top; }
    std::int32_t getLeft() const { return m_left; }
    std::int32_t getWidth() const { return m_width; }
    std::int32_t getHeight() const { return m_height; }
    bool isMaximized() const { return m_maximized; }
    bool isAutoUpdatesEnabled() const { return m_autoUpdatesEnabled; }

    void setWindowPosition(std::int32_t top, std::int32_t left);
    void setWindowRect(std::int32_t top, std::int32_t left, std::int32_t width, std::int32_t height);
    void setWindowSize(std::int32_t width, std::int32_t height, bool maximized);
    // The whole placement in one write.
    void setWindowPlacement(std::int32_t top, std::int32_t left, std::int32_t width, std::int32_t height,
                            bool maximized);

    // False when the file could not be written (the failure is logged).
    bool save() const;

private:
    void applyJson(const Json::Value& root);
    void applyWindow(const Json::Value& window);
    Json::Value toJson() const;

    std::string m_path;
    std::int32_t m_top = 0;
    std::int32_t m_left = 0;
    std::int32_t m_width = kDefaultWidth;
    std::int32_t m_height = kDefaultHeight;
    bool m_maximized = false;
    bool m_autoUpdatesEnabled = true;
};

} // namespace ferrovan
