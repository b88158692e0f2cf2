// A pilot's preflight outputs read by the Windows build, whose JSON parser is the same header
// library compiled by MinGW: a host's planned path and problems (each once), and a damaged file
// told apart, from a UTF-8 path beyond ASCII.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>

#include "../report/log_files.h"
#include "report/preflight_totals.h"

namespace fs = std::filesystem;

TEST(PreflightRead, PlannedPathAndEachProblemOnceOnWindows) {
    wchar_t temp[MAX_PATH] = {};
    ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u);
    const fs::path root = fs::path(temp) / L"relocator-preflight-\u00e9t\u00e9";
    fs::remove_all(root);
    const std::string problem =
        "{\"id\":\"installer-missing\",\"text\":\"C:\\\\x\\\\NetInst.exe is missing.\","
        "\"consequence\":\"c\",\"action\":\"Copy the agent's NetInstall folder.\"}";
    reporttest::writeBytes(root / L"WS-\u00c9_relocator-check.json",
                           "{\"tool\":\"relocator-check\",\"host\":\"WS-E\",\"path\":\"restart\","
                           "\"problems\":[" +
                               problem + "," + problem + "],\"lastRun\":null,\"exitCode\":1}\r\n");
    reporttest::writeBytes(root / L"WS-CUT_relocator-check.json",
                           "{\"tool\":\"relocator-check\",\"path\":\"migr");

    const report::Preflight read =
        report::readPreflightFile(root / L"WS-\u00c9_relocator-check.json");
    EXPECT_EQ(read.host, "WS-\xC3\x89");
    EXPECT_EQ(read.path, "restart");
    EXPECT_EQ(read.problems, std::vector<std::string>{"installer-missing"});
    EXPECT_EQ(read.action, "Copy the agent's NetInstall folder.");

    const report::Preflight cut = report::readPreflightFile(root / L"WS-CUT_relocator-check.json");
    EXPECT_FALSE(cut.readable());
    EXPECT_EQ(cut.host, "WS-CUT");
    EXPECT_FALSE(cut.reason.empty());
    fs::remove_all(root);
}
