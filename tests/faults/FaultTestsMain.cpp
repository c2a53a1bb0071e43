// The fault tests' entry: a mount namespace of their own first, while the
// process has no other thread, so the mounts the tests make die with it.

#include "FaultSandbox.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    fault_sandbox::EnterPrivateMounts();
    return RUN_ALL_TESTS();
}
