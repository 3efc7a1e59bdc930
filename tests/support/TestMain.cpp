#include "support/TestEnvironment.h"

#include <gmock/gmock.h>

int main(int argc, char** argv)
{
    fv_test::prepareProcessEnvironment();
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
