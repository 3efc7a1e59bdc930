#include "shell/linux/PlainWindowHostLinux.h"

#include "shell/Logger.h"
#include "shell/linux/AppRuntimeLinux.h"

namespace ferrovan {

PlainWindowHostLinux::PlainWindowHostLinux(const AppRuntimeLinux& runtime, ILogger* log)
    : m_runtime(runtime), m_log(log)
{
}

void PlainWindowHostLinux::navigateToNewMessage()
{
    noPage("the new-message route");
}

void PlainWindowHostLinux::navigateToNewShare()
{
    noPage("the new-share route");
}

void PlainWindowHostLinux::filesDropped(const std::list<std::string>& paths, bool, bool)
{
    noPage(std::to_string(paths.size()) + " handed-over path(s)");
}

void PlainWindowHostLinux::storePendingFiles(const std::list<std::string>& paths, bool, bool)
{
    noPage(std::to_string(paths.size()) + " handed-over path(s)");
}

void PlainWindowHostLinux::activateMainWindow()
{
    if (GtkWindow* window = m_runtime.getMainWindow())
        gtk_window_present(window);
}

void PlainWindowHostLinux::noPage(const std::string& what)
{
    logLine(m_log, Poco::Message::PRIO_WARNING, "ferrovan::PlainWindowHostLinux: No page to take " + what);
}

} // namespace ferrovan
