#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "report/preflight_totals.h"

namespace {

std::string check(const std::string& path, const std::string& problemIds) {
    std::string problems;
    size_t from = 0;
    while (from < problemIds.size()) {
        size_t end = problemIds.find(' ', from);
        if (end == std::string::npos)
            end = problemIds.size();
        problems += std::string(problems.empty() ? "" : ",") + "{\"id\":\"" +
                    problemIds.substr(from, end - from) +
                    "\",\"text\":\"t\",\"consequence\":\"c\",\"action\":\"a\"}";
        from = end + 1;
    }
    return "{\"tool\":\"relocator-check\",\"version\":\"1.1.0\",\"host\":\"H\",\"path\":\"" + path +
           "\",\"steps\":[\"Run \\\"C:\\\\x.exe\\\" -i\"],\"problems\":[" + problems +
           "],\"lastRun\":null,\"exitCode\":0}\n";
}

void write(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace

TEST(PreflightTotals, APilotsOutputsAreTotalledByPathAndProblem) {
    const auto root = std::filesystem::temp_directory_path() / "relocator-preflight-totals";
    std::filesystem::remove_all(root);
    write(root / "WS1_relocator-check.json", check("migration", ""));
    write(root / "WS2_Relocator-Check.json",
          check("restart", "installer-missing old-agent-running"));
    write(root / "site" / "WS3" / "relocator-check.json", check("fallback", "new-agent-missing"));
    write(root / "WS4_relocator-check.json",
          check("migration", "installer-missing =cmd|'/Ccalc'!A0"));
    write(root / "WS5_relocator-check.json", std::string("\x00\xff\x12garbage", 10));
    write(root / "WS6_relocator-check.json", check("sideways", ""));
    write(root / "WS7.json", check("migration", ""));  // not a preflight output's name

    report::PreflightTotals totals;
    report::totalPreflights({root}, totals);
    EXPECT_EQ(totals.hosts, 6u);
    EXPECT_EQ(totals.migration, 2u);
    EXPECT_EQ(totals.restart, 1u);
    EXPECT_EQ(totals.fallback, 1u);
    EXPECT_EQ(totals.unreadable, 2u);
    EXPECT_EQ(totals.clean, 1u);
    EXPECT_EQ(totals.problems["installer-missing"], 2u);
    EXPECT_EQ(totals.problems["old-agent-running"], 1u);
    EXPECT_EQ(totals.problems["new-agent-missing"], 1u);
    EXPECT_EQ(totals.problems["(other)"], 1u) << "an id that is no plain word is not shown as is";

    char buffer[4096] = {};
    std::FILE* out = fmemopen(buffer, sizeof(buffer) - 1, "w");
    report::writePreflightTotals(out, totals);
    std::fclose(out);
    const std::string text = buffer;
    EXPECT_NE(text.find("would migrate                     2\n"), std::string::npos) << text;
    EXPECT_NE(text.find("    installer-missing               2\n"), std::string::npos) << text;
    EXPECT_LT(text.find("installer-missing"), text.find("old-agent-running")) << "most hosts first";
    std::filesystem::remove_all(root);
}
