// Replays every seed of the personality fuzz corpus through the fuzz entry, and checks that
// loading each seed as a file parses exactly as loading its bytes from memory.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "ini_personality_input.h"
#include "cryptfile/text_format.h"
#include "personality/crypt_file_helper.h"

namespace {

std::vector<std::filesystem::path> Seeds() {
    std::vector<std::filesystem::path> seeds;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(INI_PERSONALITY_SEEDS, error)) {
        if (entry.is_regular_file()) {
            seeds.push_back(entry.path());
        }
    }
    return seeds;
}

std::vector<uint8_t> ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

TEST(IniPersonalitySeeds, EverySeedReplaysAndLoadsAsFile) {
    const std::vector<std::filesystem::path> seeds = Seeds();
    ASSERT_GE(seeds.size(), 12u) << INI_PERSONALITY_SEEDS;
    size_t withSections = 0;
    for (const std::filesystem::path& seed : seeds) {
        SCOPED_TRACE(seed.filename().string());
        const std::vector<uint8_t> bytes = ReadAll(seed);
        EXPECT_EQ(inifuzz::RunIniPersonalityInput(bytes.data(), bytes.size()), 0);

        cryptfile::MemoryByteSource source(bytes.data(), bytes.size());
        CCryptFileHelper fromMemory;
        ASSERT_TRUE(fromMemory.LoadFrom(source));
        const std::u16string path = seed.u16string();
        CCryptFileHelper fromFile;
        ASSERT_TRUE(fromFile.Load(path.c_str()));
        EXPECT_EQ(fromFile.encoding(), fromMemory.encoding());
        EXPECT_EQ(fromFile.encrypted(), fromMemory.encrypted());
        ASSERT_EQ(fromFile.sections().size(), fromMemory.sections().size());
        for (size_t k = 0; k < fromFile.sections().size(); ++k) {
            EXPECT_EQ(fromFile.sections()[k].name, fromMemory.sections()[k].name);
            EXPECT_EQ(fromFile.sections()[k].entries, fromMemory.sections()[k].entries);
        }
        withSections += fromFile.sections().empty() ? 0 : 1;
    }
    // Most seeds are meant to parse into something.
    EXPECT_GE(withSections, 10u);
}

}  // namespace
