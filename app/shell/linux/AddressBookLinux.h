#pragma once

#include "shell/AddressBook.h"

namespace ferrovan {

// The desktop has no address book every user can be assumed to keep, so nothing is found.
class AddressBookLinux : public IAddressBook {
public:
    void search(const std::string& query, std::list<AddressBookContact>& contacts) override;
};

} // namespace ferrovan
