#include "shell/linux/GlobalProgressBarLinux.h"

#include "shell/FerrovanLogger.h"

#include "AppConfig.h"

#include <algorithm>

namespace ferrovan {

namespace {

const char* const kInterface = "com.canonical.Unity.LauncherEntry";
// Docks match the entry by the application URI in the signal, not by the object path.
const char* const kObjectPath = "/org/ferrovan/Ferrovan/LauncherEntry";

} // namespace

CGlobalProgressBarLinux::CGlobalProgressBarLinux()
    : m_bus(connectSessionBus("ferrovan::CGlobalProgressBarLinux::CGlobalProgressBarLinux")),
      m_appUri(std::string("application://") + FV_APP_ID + ".desktop")
{
}

CGlobalProgressBarLinux::~CGlobalProgressBarLinux()
{
    if (m_visible)
        setVisible(false);
}

void CGlobalProgressBarLinux::setVisible(bool visible)
{
    m_visible = visible;
    sendUpdate();
}

void CGlobalProgressBarLinux::setState(int state)
{
    // Docks have no colours for states; an error asks for the user's attention instead.
    m_urgent = state == kProgressStateError;
    sendUpdate();
}

void CGlobalProgressBarLinux::setValue(unsigned percent)
{
    m_progress = std::min(percent, 100u) / 100.0;
    sendUpdate();
}

ProgressBarStyle& CGlobalProgressBarLinux::getStyle()
{
    return m_style;
}

void CGlobalProgressBarLinux::setStyle(const ProgressBarStyle& style)
{
    m_style = style;
}

void CGlobalProgressBarLinux::sendUpdate()
{
    if (!m_bus)
        return;
    GVariantBuilder properties;
    g_variant_builder_init(&properties, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&properties, "{sv}", "progress", g_variant_new_double(m_progress));
    g_variant_builder_add(&properties, "{sv}", "progress-visible", g_variant_new_boolean(m_visible));
    g_variant_builder_add(&properties, "{sv}", "urgent", g_variant_new_boolean(m_urgent));
    GError* error = nullptr;
    if (!g_dbus_connection_emit_signal(m_bus.get(), nullptr, kObjectPath, kInterface, "Update",
                                       g_variant_new("(sa{sv})", m_appUri.c_str(), &properties), &error)) {
        logLine(CFerrovanLogger::getInstance(), Poco::Message::PRIO_WARNING,
                std::string("ferrovan::CGlobalProgressBarLinux::sendUpdate: ") + error->message);
        g_error_free(error);
        // A closed connection fails every later update too: one line is enough.
        m_bus.reset();
    }
}

std::unique_ptr<IGlobalProgressBar> createGlobalProgressBar(INativeUiDataHolder*)
{
    return std::make_unique<CGlobalProgressBarLinux>();
}

bool isProgressBarStylingSupported()
{
    return false;
}

} // namespace ferrovan
