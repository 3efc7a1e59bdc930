#include "shell/linux/AddressBookLinux.h"

namespace ferrovan {

void AddressBookLinux::search(const std::string& /*query*/, std::list<AddressBookContact>& /*contacts*/) {}

std::unique_ptr<IAddressBook> createAddressBook()
{
    return std::make_unique<AddressBookLinux>();
}

} // namespace ferrovan
