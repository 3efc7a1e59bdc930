#pragma once

#include <list>
#include <memory>
#include <string>

namespace ferrovan {

struct AddressBookContact {
    std::string firstName;
    std::string lastName;
    std::string email;
};

// The user's contacts, for address completion in the page.
class IAddressBook {
public:
    virtual ~IAddressBook() = default;
    // Appends the contacts that match `query` to `contacts`.
    virtual void search(const std::string& query, std::list<AddressBookContact>& contacts) = 0;
};

std::unique_ptr<IAddressBook> createAddressBook();

} // namespace ferrovan
