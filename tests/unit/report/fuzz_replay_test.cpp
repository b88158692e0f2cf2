// Every seed of the report's fuzz target through the same entry, so that the seeds keep
// passing in every native test run (a broken rule aborts the test binary).
#include <gtest/gtest.h>

#include "report_log/report_log_fuzz.h"
#include "seed_replay.h"

TEST(FuzzSeeds, ReportLog) {
    EXPECT_GE(testsupport::replaySeeds(RELOCATOR_CORPUS_DIR, &ReportLogFuzzOne), 7u);
}
