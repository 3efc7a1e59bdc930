#include "TwoMethodHandler.h"
#include "bridge/QueryHandlerRegistration.h"
#include "bridge/QueryHandlerRegistry.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using ferrovan::CQueryHandlerBase;
using ferrovan::QueryHandlerRegistry;

// Counts the handlers alive, so a test sees when the registry lets one go.
class CountedHandler : public fv_test::TwoMethodHandler {
public:
    CountedHandler() { ++alive; }
    ~CountedHandler() override { --alive; }
    static int alive;
};
int CountedHandler::alive = 0;

class RefusingHandler : public fv_test::TwoMethodHandler {
public:
    RefusingHandler() { throw std::runtime_error("no window"); }
};

class QueryHandlerRegistryTest : public ::testing::Test {
protected:
    void SetUp() override { registry().clear(); }
    void TearDown() override { registry().clear(); }

    static QueryHandlerRegistry& registry() { return QueryHandlerRegistry::getInstance(); }

    static std::vector<std::string> names()
    {
        std::vector<std::string> result;
        for (const auto& entry : registry())
            result.push_back(entry.first);
        return result;
    }
};

TEST_F(QueryHandlerRegistryTest, IteratesInByteOrderOfTheNames)
{
    for (const char* name : {"nativeAppBridge_IPC", "uploadManagerBridge_IPC", "downloadManagerBridge_IPC", "Zeta_IPC",
                             "fileHandleChooserBridge_IPC"})
        registry().addHandler(name, std::make_unique<CountedHandler>().release());

    EXPECT_EQ(names(), (std::vector<std::string>{"Zeta_IPC", "downloadManagerBridge_IPC", "fileHandleChooserBridge_IPC",
                                                 "nativeAppBridge_IPC", "uploadManagerBridge_IPC"}));
}

TEST_F(QueryHandlerRegistryTest, ASecondHandlerUnderANameReplacesAndReleasesTheFirst)
{
    auto first = std::make_unique<CountedHandler>();
    auto* firstHandler = first.get();
    registry().addHandler("nativeAppBridge_IPC", first.release());
    auto second = std::make_unique<CountedHandler>();
    auto* secondHandler = second.get();

    registry().addHandler("nativeAppBridge_IPC", second.release());

    EXPECT_EQ(CountedHandler::alive, 1);
    EXPECT_TRUE(registry().findByHandler(firstHandler).isNull());
    EXPECT_EQ(registry().findByHandler(secondHandler).get(), secondHandler);
    EXPECT_EQ(names().size(), 1u);
}

TEST_F(QueryHandlerRegistryTest, AddingTheHeldHandlerAgainKeepsIt)
{
    auto handler = std::make_unique<CountedHandler>();
    auto* held = handler.get();
    registry().addHandler("x_IPC", handler.release());

    registry().addHandler("x_IPC", held);

    EXPECT_EQ(CountedHandler::alive, 1);
    EXPECT_EQ(registry().findByHandler(held).get(), held);
}

TEST_F(QueryHandlerRegistryTest, AHandlerLivesWhileACopyOfItsPointerDoes)
{
    auto handler = std::make_unique<CountedHandler>();
    auto* held = handler.get();
    registry().addHandler("x_IPC", handler.release());
    Poco::SharedPtr<CQueryHandlerBase> kept = registry().findByHandler(held);

    registry().clear();

    EXPECT_TRUE(registry().empty());
    EXPECT_EQ(CountedHandler::alive, 1);
    kept.reset();
    EXPECT_EQ(CountedHandler::alive, 0);
}

TEST_F(QueryHandlerRegistryTest, FindsNothingForAHandlerItDoesNotHold)
{
    CountedHandler stranger;
    registry().addHandler("x_IPC", nullptr);

    EXPECT_TRUE(registry().findByHandler(&stranger).isNull());
    EXPECT_TRUE(registry().findByHandler(nullptr).isNull());
}

TEST_F(QueryHandlerRegistryTest, RegistersWithAHandlerOrByNameOnly)
{
    ferrovan::registerQueryHandler<CountedHandler>("with_IPC", true);
    ferrovan::registerQueryHandler<CountedHandler>("names_IPC", false);

    ASSERT_EQ(names(), (std::vector<std::string>{"names_IPC", "with_IPC"}));
    EXPECT_TRUE(registry().begin()->second.isNull());
    EXPECT_FALSE(std::next(registry().begin())->second.isNull());
    EXPECT_EQ(CountedHandler::alive, 1);
}

TEST_F(QueryHandlerRegistryTest, AHandlerThatCannotBeMadeLeavesOnlyItsNameOut)
{
    ferrovan::registerQueryHandler<CountedHandler>("a_IPC", true);
    ferrovan::registerQueryHandler<RefusingHandler>("b_IPC", true);
    ferrovan::registerQueryHandler<CountedHandler>("c_IPC", true);

    EXPECT_EQ(names(), (std::vector<std::string>{"a_IPC", "c_IPC"}));
}

TEST_F(QueryHandlerRegistryTest, ClearReleasesEveryHandler)
{
    ferrovan::registerQueryHandler<CountedHandler>("a_IPC", true);
    ferrovan::registerQueryHandler<CountedHandler>("b_IPC", true);

    registry().clear();

    EXPECT_TRUE(registry().empty());
    EXPECT_EQ(CountedHandler::alive, 0);
}

} // namespace
