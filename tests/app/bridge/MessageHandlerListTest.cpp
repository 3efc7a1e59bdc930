#include "FakeBrowser.h"
#include "FakeFrame.h"
#include "bridge/messages/MessageHandlerBase.h"
#include "bridge/messages/MessageHandlerCreation.h"
#include "bridge/messages/MessageHandlerList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using ferrovan::messages::CMessageHandlerBase;
using ferrovan::messages::IMessageHandler;
using ferrovan::messages::MessageHandlerList;
using fvcef::CefProcessMessage;
using fvcef::CefRefPtr;

class FakeProcessMessage : public fvcef::CefRefCounted<CefProcessMessage> {
public:
    explicit FakeProcessMessage(std::string name) : m_name(std::move(name)) {}
    fvcef::CefString GetName() override { return m_name; }

private:
    std::string m_name;
};

CefRefPtr<CefProcessMessage> message(const std::string& name)
{
    return new FakeProcessMessage(name);
}

// Takes "take" and declines "pass" after seeing it; counts the instances alive and the
// messages each one saw.
class CountingHandler : public CMessageHandlerBase {
public:
    CountingHandler()
    {
        ++alive;
        registerMethod("take", &CountingHandler::take);
        registerMethod("pass", &CountingHandler::pass);
    }

    static int alive;
    std::vector<std::string> seen;

protected:
    ~CountingHandler() override { --alive; }

private:
    bool take(CefRefPtr<CefProcessMessage> message)
    {
        seen.push_back(message->GetName());
        return true;
    }
    bool pass(CefRefPtr<CefProcessMessage> message)
    {
        seen.push_back(message->GetName());
        return false;
    }
};
int CountingHandler::alive = 0;

class MessageHandlerListTest : public ::testing::Test {
protected:
    void SetUp() override { list().clear(); }
    void TearDown() override { list().clear(); }

    static MessageHandlerList& list() { return MessageHandlerList::getInstance(); }
};

TEST_F(MessageHandlerListTest, TheProgramsHandlersTakeNoMessage)
{
    ferrovan::messages::createMessageHandlers();
    ASSERT_EQ(list().size(), 2u);
    CefRefPtr<fv_test::FakeFrame> frame(new fv_test::FakeFrame("http://127.0.0.1:8765/app"));
    ferrovan::QueryHandlerContext context;
    context.browser = new fv_test::FakeBrowser(frame);
    list().setContext(context);

    for (const char* name : {"", "take", "uploadManager", "downloadManager", "onAppReady"})
        EXPECT_FALSE(list().dispatchMessage(message(name))) << name;
    EXPECT_FALSE(list().dispatchMessage(nullptr));
}

TEST_F(MessageHandlerListTest, TheFirstHandlerThatTakesAMessageEndsItsRound)
{
    CefRefPtr<CountingHandler> first(new CountingHandler);
    CefRefPtr<CountingHandler> second(new CountingHandler);
    list().addHandler(first);
    list().addHandler(nullptr);
    list().addHandler(second);
    ASSERT_EQ(list().size(), 2u);

    EXPECT_TRUE(list().dispatchMessage(message("take")));
    EXPECT_FALSE(list().dispatchMessage(message("pass")));
    EXPECT_FALSE(list().dispatchMessage(message("Take")));

    EXPECT_EQ(first->seen, (std::vector<std::string>{"take", "pass"}));
    EXPECT_EQ(second->seen, (std::vector<std::string>{"pass"}));
}

TEST_F(MessageHandlerListTest, ClearReleasesTheHandlersItHolds)
{
    list().addHandler(new CountingHandler);
    CefRefPtr<CountingHandler> kept(new CountingHandler);
    list().addHandler(kept);
    ASSERT_EQ(CountingHandler::alive, 2);

    list().clear();

    EXPECT_EQ(list().size(), 0u);
    EXPECT_EQ(CountingHandler::alive, 1);
    kept = nullptr;
    EXPECT_EQ(CountingHandler::alive, 0);
}

} // namespace
