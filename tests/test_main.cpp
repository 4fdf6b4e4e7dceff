#include <gtest/gtest.h>

#include "host_control.h"

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (!HostLoadResourceFile(PALVENOR_RESOURCE_FILE)) {
        fprintf(stderr, "cannot read the compiled resources %s\n", PALVENOR_RESOURCE_FILE);
        return 1;
    }
    return RUN_ALL_TESTS();
}
