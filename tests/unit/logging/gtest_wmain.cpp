// The Windows build links with -municode, so the C runtime enters through wmain, which
// gtest_main does not provide.
#include <gtest/gtest.h>

int wmain(int argc, wchar_t** argv) {
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
