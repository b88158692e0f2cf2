// A Windows build linked with -municode enters the C runtime through wmain, which gtest_main
// does not provide; without -municode this entry is simply unused.
#include <gtest/gtest.h>

int wmain(int argc, wchar_t** argv) {
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
