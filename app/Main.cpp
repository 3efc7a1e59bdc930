#include "FvVersion.h"

#include <iostream>

// Replaced by the application run once it lands; keeps the program target buildable meanwhile.
int main()
{
    std::cout << "Ferrovan " << FV_VERSION_STRING << std::endl;
    return 0;
}
