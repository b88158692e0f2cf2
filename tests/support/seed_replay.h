// Replays every seed file of a fuzz target's corpus through the target's entry function, so
// that the seeds keep passing in every test run.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace testsupport {

using FuzzEntry = int (*)(const uint8_t* data, size_t size);

// Returns how many seeds were replayed; each must make the entry return 0.
inline size_t replaySeeds(const char* corpusDir, FuzzEntry entry) {
    size_t seeds = 0;
    for (const auto& file : std::filesystem::directory_iterator(corpusDir)) {
        if (!file.is_regular_file())
            continue;
        std::ifstream in(file.path(), std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                      std::istreambuf_iterator<char>());
        SCOPED_TRACE(file.path().string());
        EXPECT_EQ(entry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 0);
        ++seeds;
    }
    return seeds;
}

}  // namespace testsupport
