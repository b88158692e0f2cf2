// The driver tests read the personality as the tool does: GetPersonality, loaded once for the
// process before any test runs, with the prefix's real WOW64 answer.
#include <gtest/gtest.h>

#include "driver_host.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    drvtest::loadTestPersonality();
    return RUN_ALL_TESTS();
}
