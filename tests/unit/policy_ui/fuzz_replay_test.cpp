// Every seed of the fuzz target through the same entry, so that the seeds keep passing in
// every native test run (a broken rule aborts the test binary).
#include <gtest/gtest.h>

#include "policy_scan/policy_scan_fuzz.h"
#include "seed_replay.h"

TEST(FuzzSeeds, PolicyScan) {
    EXPECT_GE(testsupport::replaySeeds(RELOCATOR_CORPUS_DIR, &PolicyScanFuzzOne), 12u);
}
