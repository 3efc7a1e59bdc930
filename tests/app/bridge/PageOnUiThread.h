#pragma once

#include "FakeBrowser.h"
#include "FakeFrame.h"
#include "JsonText.h"
#include "QueryRouterStub.h"
#include "bridge/ITransferProgressReporter.h"
#include "browser/host/CefTask.h"
#include "browser/host/linux/CefUiThreadLinux.h"
#include "shell/linux/UiTaskQueueLinux.h"

#include "support/gui/MainContextWait.h"

#include <gtest/gtest.h>
#include <glib.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace fv_test {

// The test's thread as the program's UI thread, running posted tasks while it waits, and the
// page's main frame, which records the scripts run in it.
class PageOnUiThread {
public:
    PageOnUiThread() = default;
    ~PageOnUiThread()
    {
        m_uiThread.reset();
        m_queue.reset();
        runReady(m_context);
        g_main_context_unref(m_context);
    }
    PageOnUiThread(const PageOnUiThread&) = delete;
    PageOnUiThread& operator=(const PageOnUiThread&) = delete;

    // Runs the UI thread's tasks until `done`, within the deadline.
    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline = std::chrono::seconds(60))
    {
        return runContextUntil(m_context, done, deadline);
    }
    // Runs every task posted so far.
    void drain()
    {
        bool reached = false;
        ASSERT_TRUE(fvcef::CefPostTask(fvcef::TID_UI, [&] { reached = true; }));
        ASSERT_TRUE(runUntil([&] { return reached; }));
    }
    // The argument of each call of the page function `prefix` ("name("), in order.
    std::vector<Json::Value> calls(const std::string& prefix) const
    {
        const std::string suffix = ");";
        std::vector<Json::Value> result;
        for (const std::string& script : frame->scripts()) {
            if (script.compare(0, prefix.size(), prefix) == 0 && script.size() >= prefix.size() + suffix.size() &&
                script.compare(script.size() - suffix.size(), suffix.size(), suffix) == 0)
                result.push_back(
                    parseJson(script.substr(prefix.size(), script.size() - prefix.size() - suffix.size())));
        }
        return result;
    }

    fvcef::CefRefPtr<FakeFrame> frame{new FakeFrame("http://127.0.0.1:8765/app")};
    fvcef::CefRefPtr<FakeBrowser> browser{new FakeBrowser(frame)};

private:
    GMainContext* m_context = g_main_context_new();
    std::unique_ptr<ferrovan::UiTaskQueueLinux> m_queue = std::make_unique<ferrovan::UiTaskQueueLinux>(m_context);
    std::unique_ptr<ferrovan::CefUiThreadLinux> m_uiThread =
        std::make_unique<ferrovan::CefUiThreadLinux>(*m_queue, m_context);
};

// The single answer of one query; a second or missing answer fails the test.
inline QueryAnswer askOnce(QueryRouterStub& router, const std::string& text)
{
    const std::vector<QueryAnswer> answers = router.send(text);
    EXPECT_EQ(answers.size(), 1u) << text;
    return answers.empty() ? QueryAnswer{} : answers[0];
}

inline std::string bridgeRequest(const std::string& method, const std::string& parameters = "")
{
    return R"({"method":")" + method + "\"" + (parameters.empty() ? "" : R"(,"parameters":)" + parameters) + "}";
}

// The dock's progress as a transfer bridge feeds it.
class RecordingProgress : public ferrovan::ITransferProgressReporter::IProgressCallback {
public:
    void onGroupProgress(const fv_transfers::CTransferManagerBase::GroupState& state) override
    {
        states.push_back(state);
    }

    std::vector<fv_transfers::CTransferManagerBase::GroupState> states;
};

} // namespace fv_test
