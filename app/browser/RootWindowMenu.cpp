#include "browser/RootWindowMenu.h"

#include "browser/ApplicationMenuCallback.h"
#include "browser/MenuBarView.h"

#include <Poco/Any.h>

#include <algorithm>
#include <iterator>

namespace ferrovan {

namespace {

const RootWindowMenu::Command kCommands[] = {
    {32500, kExitItem, false, "E&xit"},
    {32501, kSendFilesItem, false, "Send Files"},
    {32502, kShareFilesItem, false, "Share Files"},
    {32503, kCheckForUpdatesItem, false, "Check For Updates..."},
    {32700, kClearAppDataItem, false, "Clear App Data And Restart..."},
    {32701, kOpenLogsItem, false, "Open Logs in Explorer"},
    {32702, kVerboseLoggingItem, true, "Enable Verbose Logging"},
    {32703, kSubmitLogsItem, false, "Submit App Logs..."},
    {32704, kAboutItem, false, "About Ferrovan..."},
};

constexpr int kSeparator = RootWindowMenu::kSeparatorId;

} // namespace

RootWindowMenu::RootWindowMenu(IApplicationMenuCallback& callback) : m_callback(callback), m_bar(*this)
{
    addMenu("&File", {32501, 32502, kSeparator, 32503, kSeparator, 32500});
    addMenu("&Help", {32700, 32701, 32702, 32703, kSeparator, 32704});
}

RootWindowMenu::~RootWindowMenu() = default;

void* RootWindowMenu::createMenuBar()
{
    if (!m_view)
        m_view = createMenuBarView(m_bar);
    return m_view->getNativeWidget();
}

const RootWindowMenu::Command* RootWindowMenu::findCommand(int id)
{
    const auto found =
        std::find_if(std::begin(kCommands), std::end(kCommands), [id](const Command& c) { return c.id == id; });
    return found != std::end(kCommands) ? found : nullptr;
}

void RootWindowMenu::onMenuCommand(const WindowMenuBarBase::Menu& menu, int commandId)
{
    const Command* command = findCommand(commandId);
    if (command == nullptr)
        return;
    Poco::Any argument;
    if (command->check) {
        for (const WindowMenuBarBase::Item& item : menu.items)
            if (item.commandId == commandId)
                argument = item.checked;
    }
    m_callback.onMenuItem(command->kind, argument);
}

void RootWindowMenu::addMenu(const char* label, std::initializer_list<int> ids)
{
    const int menu = m_bar.createMenu(label);
    for (int id : ids) {
        const Command* command = findCommand(id);
        if (command == nullptr)
            m_bar.addSeparator(menu);
        else if (command->check)
            m_bar.addCheckItem(menu, id, command->text);
        else
            m_bar.addItem(menu, id, command->text);
    }
}

} // namespace ferrovan
