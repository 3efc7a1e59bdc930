#include "browser/WindowPlacementSaver.h"

#include "shell/AppSettings.h"

#include <utility>

namespace ferrovan {

WindowPlacementSaver::WindowPlacementSaver(const Poco::SharedPtr<AppSettings>& settings, Schedule schedule)
    : m_settings(settings), m_schedule(std::move(schedule)), m_normal{settings->getLeft(), settings->getTop(),
                                                                      settings->getWidth(), settings->getHeight()},
      m_maximized(settings->isMaximized()), m_self(std::make_shared<WindowPlacementSaver*>(this))
{
}

void WindowPlacementSaver::onConfigure(int x, int y, int width, int height)
{
    const ScreenRect frame{x, y, width, height};
    if (m_maximized || m_minimized || frame == m_normal)
        return;
    m_normal = frame;
    changed();
}

void WindowPlacementSaver::onStateChanged(bool maximized, bool minimized)
{
    m_minimized = minimized;
    if (maximized == m_maximized)
        return;
    m_maximized = maximized;
    changed();
}

void WindowPlacementSaver::onWindowResized(int width, int height, bool maximized)
{
    onStateChanged(maximized, false);
    onConfigure(m_normal.x, m_normal.y, width, height);
}

void WindowPlacementSaver::onWindowMoved(int top, int left)
{
    onConfigure(left, top, m_normal.width, m_normal.height);
}

void WindowPlacementSaver::flush()
{
    if (!m_pending)
        return;
    m_pending = false;
    m_settings->setWindowPlacement(m_normal.y, m_normal.x, m_normal.width, m_normal.height, m_maximized);
}

void WindowPlacementSaver::changed()
{
    m_pending = true;
    if (m_saveArmed)
        return;
    m_saveArmed = true;
    std::weak_ptr<WindowPlacementSaver*> self = m_self;
    m_schedule(kSaveDelayMs, [self] {
        if (const auto alive = self.lock())
            (*alive)->onSaveDue();
    });
}

void WindowPlacementSaver::onSaveDue()
{
    m_saveArmed = false;
    flush();
}

} // namespace ferrovan
