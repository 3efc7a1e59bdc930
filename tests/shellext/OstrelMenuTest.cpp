#include "OstrelMenu.h"
#include "support/TestTypes.h"

#include <gmock/gmock.h>

using ferrovan::ostrel::OstrelMenu;
using ferrovan::ostrel::SelectedPaths;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

const std::string kLongPath = "/d/" + std::string(200, 'n') + "/" + std::string(200, 'o') + "/" +
                              std::string(200, 'p') + "/" + std::string(200, 'q') + "/" + std::string(200, 'r') + "/" +
                              std::string(200, 's') + "/end.txt";

struct SelectionCase {
    const char* what;
    SelectedPaths selection;
    std::vector<std::string> paths; // empty: no items
    const char* refusal;
};

// Names the row in a failure, not its bytes.
void PrintTo(const SelectionCase& row, std::ostream* out)
{
    *out << row.what;
}

class OstrelMenuSelection : public ::testing::TestWithParam<SelectionCase> {};

TEST_P(OstrelMenuSelection, OffersBothItemsWithTheWholeSelectionOrNothing)
{
    const SelectionCase& row = GetParam();
    const auto offer = OstrelMenu::itemsFor(row.selection);
    if (row.paths.empty()) {
        EXPECT_TRUE(offer.items.empty());
        EXPECT_THAT(offer.refusal, HasSubstr(row.refusal));
        return;
    }
    ASSERT_EQ(offer.items.size(), 2u);
    EXPECT_TRUE(offer.refusal.empty());
    for (const auto& item : offer.items)
        EXPECT_EQ(item.paths, row.paths) << item.name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, OstrelMenuSelection,
    ::testing::Values(SelectionCase{"files in order",
                                    {"/d/a b.txt", "/d/\xC3\xA9t\xC3\xA9.pdf", "/d/c"},
                                    {"/d/a b.txt", "/d/\xC3\xA9t\xC3\xA9.pdf", "/d/c"},
                                    ""},
                      SelectionCase{"folder and file", {"/d/dir", "/d/x"}, {"/d/dir", "/d/x"}, ""},
                      SelectionCase{"a path longer than any fixed buffer", {kLongPath}, {kLongPath}, ""},
                      SelectionCase{"one item without a local path", {"/d/x", std::nullopt}, {}, "no local path"},
                      SelectionCase{"a name that is not UTF-8", {"/d/x", "/d/\xFF\xFE.txt"}, {}, "not UTF-8"},
                      SelectionCase{"a truncated UTF-8 sequence", {"/d/\xC3"}, {}, "not UTF-8"},
                      SelectionCase{"nothing selected", {}, {}, ""}),
    fv_test::rowName<SelectionCase>);

TEST(OstrelMenu, ItemsCallSendAndShareUnderTheirNamesAndTexts)
{
    const auto offer = OstrelMenu::itemsFor({"/d/x"});
    ASSERT_EQ(offer.items.size(), 2u);
    const auto& send = offer.items[0];
    const auto& share = offer.items[1];
    EXPECT_THAT((std::vector<std::string>{send.name, send.label, send.tip, send.method}),
                ElementsAre("Ostrel::Send", "Send with Ferrovan v4", "Ferrovan v4", "Send"));
    EXPECT_THAT((std::vector<std::string>{share.name, share.label, share.tip, share.method}),
                ElementsAre("Ostrel::Share", "Share with Ferrovan v4", "", "Share"));
}

} // namespace
