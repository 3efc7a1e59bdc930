#include "FakeFrame.h"
#include "bridge/IWebAppLifeCycleCallback.h"
#include "browser/host/CefBaseRefCounted.h"
#include "browser/host/CefRefPtr.h"
#include "browser/host/CefString.h"
#include "support/fixtures/Watchdog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

// Two reference-counted interfaces on one object, as the browser host's handler has them.
class TwoFacedObject : public fvcef::CefRefCounted<fvcef::CefFrame, ferrovan::IWebAppLifeCycleCallback> {
public:
    explicit TwoFacedObject(std::atomic<int>& destroyed) : m_destroyed(destroyed) {}
    ~TwoFacedObject() override { ++m_destroyed; }

    bool IsMain() override { return true; }
    fvcef::CefString GetURL() override { return "http://127.0.0.1/"; }
    void ExecuteJavaScript(const fvcef::CefString&, const fvcef::CefString&, int) override {}
    void LoadURL(const fvcef::CefString&) override {}
    void onStartup() override {}
    void onShutdown() override {}

private:
    std::atomic<int>& m_destroyed;
};

TEST(CefRefPtr, TheLastReferenceDestroysTheObjectOnce)
{
    std::atomic<int> destroyed{0};
    fvcef::CefRefPtr<TwoFacedObject> first(new TwoFacedObject(destroyed));
    EXPECT_TRUE(first->HasOneRef());

    fvcef::CefRefPtr<fvcef::CefFrame> asFrame = first;
    fvcef::CefRefPtr<ferrovan::IWebAppLifeCycleCallback> asLifeCycle(first.get());
    EXPECT_FALSE(first->HasOneRef());
    first = nullptr;
    asFrame = nullptr;
    EXPECT_TRUE(asLifeCycle->HasOneRef());
    EXPECT_EQ(destroyed, 0);

    asLifeCycle = nullptr;
    EXPECT_EQ(destroyed, 1);
}

TEST(CefRefPtr, MovesWithoutTouchingTheCount)
{
    fvcef::CefRefPtr<fv_test::FakeFrame> frame(new fv_test::FakeFrame("about:blank"));
    fvcef::CefRefPtr<fv_test::FakeFrame> moved(std::move(frame));

    EXPECT_FALSE(frame);
    EXPECT_TRUE(moved->HasOneRef());
}

TEST(CefRefPtr, CopiesOnManyThreadsDestroyOnce)
{
    fv_test::Watchdog watchdog("reference copies on threads");
    std::atomic<int> destroyed{0};
    {
        fvcef::CefRefPtr<TwoFacedObject> shared(new TwoFacedObject(destroyed));
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t)
            threads.emplace_back([shared] {
                for (int i = 0; i < 2000; ++i) {
                    fvcef::CefRefPtr<fvcef::CefFrame> copy = shared;
                    fvcef::CefRefPtr<ferrovan::IWebAppLifeCycleCallback> other(shared.get());
                }
            });
        for (std::thread& thread : threads)
            thread.join();
        EXPECT_TRUE(shared->HasOneRef());
    }
    EXPECT_EQ(destroyed, 1);
}

TEST(CefString, CarriesUtf8Unchanged)
{
    const std::string text = "é 𝄞 #1";
    const fvcef::CefString fromText(text);
    const std::string back = fromText;

    EXPECT_EQ(back, text);
    EXPECT_EQ(fvcef::CefString("x").ToString(), "x");
    EXPECT_TRUE(fvcef::CefString(static_cast<const char*>(nullptr)).empty());
}

} // namespace
