// Every seed of the classify_lines fuzz target through the same entry, so that the seeds keep
// passing in every native test run (a broken rule aborts the test binary).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "classify_lines/classify_lines_fuzz.h"

namespace {

TEST(FuzzSeeds, ClassifyLines) {
    size_t seeds = 0;
    for (const auto& entry : std::filesystem::directory_iterator(RELOCATOR_CORPUS_DIR)) {
        if (!entry.is_regular_file())
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                      std::istreambuf_iterator<char>());
        SCOPED_TRACE(entry.path().string());
        EXPECT_EQ(
            ClassifyLinesFuzzOne(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 0);
        ++seeds;
    }
    EXPECT_GE(seeds, 12u);
}

}  // namespace
