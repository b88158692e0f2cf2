// The shared log layout read back as written, and the line table: every line of the guide is
// recognised as itself (no entry shadows another), and a run's records give its path, outcome
// and exit code.
#include <gtest/gtest.h>

#include "cryptfile/text_format.h"
#include "log_files.h"
#include "report/log_line_matcher.h"
#include "report/log_lines.h"
#include "report/run_reader.h"

using namespace reporttest;

TEST(LogLayout, RecordHeadsAndHeaderLinesReadBackAsWritten) {
    std::string line;
    const logfmt::RecordStamp stamp = {1, 31, 2027, 23, 5, 9};
    logfmt::appendRecordHead(line, stamp, 0xFFFFFFFEu, "WARN", "TAG");
    // %d of a thread id above 2^31 reads as the signed number.
    EXPECT_EQ(line, "01/31/2027 23:05:09 T0x-2 WARN: [TAG] ");
    std::wstring wide;
    logfmt::appendRecordHead(wide, stamp, 2412, L"INFO", L"");
    EXPECT_EQ(wide, L"01/31/2027 23:05:09 T0x2412 INFO: ");

    logfmt::RecordHead head;
    ASSERT_TRUE(logfmt::parseRecordHead(line + "message", head));
    EXPECT_EQ(head.thread, -2);
    EXPECT_EQ(head.level->level, logfmt::kLevelWarn);
    EXPECT_EQ(head.length, line.size() - 6) << "the tag stays with the message";
    EXPECT_EQ(logfmt::sortableStamp(head.stamp), "2027-01-31 23:05:09");
    EXPECT_EQ(logfmt::findRecordHead("C:\\a/b " + line, 0), 7u);
    EXPECT_FALSE(logfmt::parseRecordHead("13/31/2027 23:05:09 T0x1 INFO: x", head));
    EXPECT_FALSE(logfmt::parseRecordHead("01/31/2027 23:05:09 T0x1 LOUD: x", head));

    const std::string block = logfmt::headerBlock("Relocator.log", "ERROR WARN INFO", "OS");
    EXPECT_EQ(block, "\n" + std::string(72, '=') +
                         "\nTarvos Host Logging: Relocator.log\nInitial Logging "
                         "Subscriptions: ERROR WARN INFO\nOS Version Info: OS\n" +
                         std::string(72, '=') + "\n");
    std::string_view value;
    EXPECT_EQ(logfmt::classifyHeaderLine("OS Version Info: OS", value), logfmt::HeaderLine::Os);
    EXPECT_EQ(value, "OS");
    EXPECT_EQ(logfmt::classifyHeaderLine(std::string(71, '='), value), logfmt::HeaderLine::Other);
}

TEST(LogLines, EveryLineIsRecognisedAsItself) {
    size_t count = 0;
    const report::LogLine* lines = report::logLines(count);
    for (size_t i = 0; i < count; ++i) {
        std::string text = lines[i].text;
        for (const auto& [hole, sample] : {std::pair<std::string, std::string>{"{N}", "1060"},
                                           {"{PATH}", "C:\\Program Files (x86)\\a to b"},
                                           {"{COMMAND LINE}", "\"C:\\x.exe\" -i"},
                                           {"{NAME}", "SYSTEM"},
                                           {"{TEXT}", "The text."}}) {
            for (size_t at; (at = text.find(hole)) != std::string::npos;)
                text.replace(at, hole.size(), sample);
        }
        report::LineMatch match;
        ASSERT_TRUE(report::matchLogLine(lines[i].level, text, match)) << text;
        EXPECT_EQ(match.line, &lines[i]) << text << " taken for " << match.line->text;
        // A line ending in its text is whole only then; any other takes nothing more.
        const std::string pattern = lines[i].text;
        const bool openEnd = pattern.back() == '}' && pattern.substr(pattern.size() - 3) != "{N}";
        EXPECT_EQ(report::matchLogLine(lines[i].level, text + "x", match), openEnd) << text;
    }
}

namespace {

report::HostReport judged(const std::vector<Record>& records) {
    const std::string text = logText(records);
    cryptfile::MemoryByteSource source(text.data(), text.size());
    report::HostReport host;
    report::readRun(source, host);
    return host;
}

}  // namespace

TEST(RunJudgement, PathOutcomeAndExitCodeFromTheRecordsAlone) {
    using O = report::Outcome;
    const auto detected = info("Tarvos Server 2.0 detected. Starting KLO Tarvos and exiting..");
    const auto tryOld = info("Can't Start thService. Trying start Glacisd and Rampart");
    const auto rampart = info("Rampart DETECTED. Starting it");
    const auto pickUp = error("Pick up GlacisUi from C:\\t");
    const auto installing = info("UI should be installed and and doesnt exist. Installing..");
    // Written without a line end: the next record follows on the same line.
    const Record noMenu = {logfmt::kLevelError, "C:\\menu not found. Shortcut cant be created"};
    const auto toolStart = info("Relocator 1.1.0 started as process 4242");
    const auto end = [](const std::string& codeAndPath, const std::string& agent) {
        return info("Relocator 1.1.0 finished with exit code " + codeAndPath +
                    ", new agent: " + agent + ")");
    };
    const struct {
        const char* name;
        std::vector<Record> records;
        O outcome;
        const char* exit;
    } cases[] = {
        {"restart, both agents fail", run({detected, tryOld, info("Can't Start Glacsd."), rampart}),
         O::NoAgent, "non-zero"},
        {"restart, rescued, Rampart",
         run({detected, info("SuccessFully Started thService"), rampart}), O::StartedAfterRescue,
         "non-zero"},
        {"migration stopped before its local UI step", run({pickUp}), O::Incomplete, "unknown"},
        {"migration, the line without line end last", run({pickUp, installing, noMenu}), O::Started,
         "0"},
        {"migration, failed start",
         run({pickUp, installing, noMenu,
              error("TarvosAgent can't be started with errcode: 1058")}),
         O::NotStarted, "1058"},
        // The tool's start record: the end record alone says the run got to its end.
        {"migration cut off during the agent's start", run({toolStart, pickUp, installing}),
         O::Incomplete, "unknown"},
        {"migration ended",
         run({toolStart, pickUp, installing, end("0 (path: migration", "running")}), O::Started,
         "0"},
        {"migration ended, the agent never seen running",
         run({toolStart, pickUp, installing, end("0 (path: migration", "start-pending")}),
         O::NotRunning, "0"},
        {"restart on a host whose agent runs, Rampart",
         run({toolStart, detected, info("KLOTarvos is already running"), rampart,
              end("1056 (path: restart", "running")}),
         O::Started, "1056"},
        {"restart, rescued, Rampart, with its end record",
         run({toolStart, detected, info("SuccessFully Started thService"), rampart,
              end("1053 (path: restart", "running")}),
         O::StartedAfterRescue, "1053"},
    };
    for (const auto& c : cases) {
        const report::HostReport host = judged(c.records);
        EXPECT_EQ(host.outcome, c.outcome) << c.name << ": " << host.reason.str();
        EXPECT_EQ(report::exitCodeText(host.exit), c.exit) << c.name;
        // A log of an older tool says it has no end record; one of this tool is judged by it.
        const bool older = c.records.size() < 2 || c.records[1].message != toolStart.message;
        EXPECT_EQ(host.reason.str().find("no end record") != std::string::npos,
                  older || c.outcome == O::Incomplete)
            << c.name << ": " << host.reason.str();
    }
}
