#include <windows.h>

#include <gtest/gtest.h>

#include "ModuleInstance.h"

int main(int argc, char** argv)
{
    // Programs that link the dialog statically find its resources in themselves.
    orvane::SetModuleInstance(GetModuleHandleA(nullptr));
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
