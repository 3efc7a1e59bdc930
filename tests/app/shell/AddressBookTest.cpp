#include "shell/AddressBook.h"

#include <gtest/gtest.h>

#include <list>
#include <string>

namespace {

using ferrovan::AddressBookContact;

TEST(AddressBook, FindsNoContactsAndKeepsTheListGiven)
{
    const auto book = ferrovan::createAddressBook();
    for (const std::string query : {"", "a", "someone@example.test"}) {
        std::list<AddressBookContact> contacts{{"Ada", "Lovelace", "ada@example.test"}};
        book->search(query, contacts);
        ASSERT_EQ(1u, contacts.size()) << query;
        EXPECT_EQ("ada@example.test", contacts.front().email);
    }
}

} // namespace
