// THLogger on Wine's CRT: record format, masks, instance rules, rotation and the printf rules.
#include <gtest/gtest.h>

#include <regex>

#include "host_support.h"
#include "logging/event_trace.h"
#include "logging/logger.h"

namespace {

const std::wstring kDir = L"C:\\relo_log";

class LoggerTest : public ::testing::Test {
  protected:
    void SetUp() override { host::freshFolder(kDir); }
    void TearDown() override { host::removeTree(kDir); }
    std::wstring path(const wchar_t* name) const { return kDir + L"\\" + name; }
    static std::string text(const std::wstring& p) {
        std::string t = host::readFile(p);
        if (t.compare(0, 3, "\xEF\xBB\xBF") == 0)
            t.erase(0, 3);
        return t;
    }
};

}  // namespace

TEST_F(LoggerTest, RecordFormatWithAndWithoutTag) {
    {
        THLogger logger;
        logger.open(path(L"a.log").c_str(), LOG_ERROR | LOG_WARN | LOG_INFO, LOG_FILE, nullptr);
        logMessage(&logger, LOG_INFO, L"value %d of %s\n", 42, L"wide");
        logMessage(&logger, LOG_ERROR, L"bad\n");
    }
    auto records = host::logRecords(path(L"a.log"));
    EXPECT_EQ(records, (std::vector<std::string>{"INFO: value 42 of wide\n", "ERROR: bad\n"}));
    std::string t = text(path(L"a.log"));
    std::regex record(
        R"((\d\d)/(\d\d)/(\d{4}) (\d\d):(\d\d):(\d\d) T0x(\d+) INFO: value 42 of wide\r\n)");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(t, m, record)) << t;
    EXPECT_EQ(std::stoul(m[7].str()), GetCurrentThreadId());
    SYSTEMTIME now;
    GetLocalTime(&now);
    EXPECT_EQ(std::stoi(m[3].str()), now.wYear);
    EXPECT_GE(std::stoi(m[1].str()), 1);
    EXPECT_LE(std::stoi(m[1].str()), 12);

    THLogger tagged;
    tagged.open(path(L"b.log").c_str(), -1, LOG_FILE, L"TAG");
    logMessage(&tagged, LOG_WARN, L"x\n");
    tagged.close();
    EXPECT_EQ(host::logRecords(path(L"b.log")), (std::vector<std::string>{"WARN: [TAG] x\n"}));
}

TEST_F(LoggerTest, MaskDecidesAndUnknownLevelsAreNamed) {
    THLogger logger;
    logger.open(path(L"m.log").c_str(), 7, LOG_FILE, nullptr);
    logMessage(&logger, LOG_DEBUG, L"debug\n");
    logMessage(&logger, 3, L"three\n");
    logMessage(&logger, 16, L"sixteen\n");
    logger.close();
    EXPECT_EQ(host::logRecords(path(L"m.log")), (std::vector<std::string>{"UNKNOWN: three\n"}));
}

TEST(LevelName, Table) {
    EXPECT_STREQ(levelName(0), L"NONE");
    EXPECT_STREQ(levelName(1), L"ERROR");
    EXPECT_STREQ(levelName(2), L"WARN");
    EXPECT_STREQ(levelName(4), L"INFO");
    EXPECT_STREQ(levelName(8), L"DEBUG");
    EXPECT_STREQ(levelName(-1), L"ALL");
    EXPECT_STREQ(levelName(3), L"UNKNOWN");
}

TEST_F(LoggerTest, LongMessagesAreCutAt2047Characters) {
    THLogger logger;
    logger.open(path(L"long.log").c_str(), 7, LOG_FILE, nullptr);
    std::wstring big(3000, L'x');
    logMessage(&logger, LOG_INFO, L"%s", big.c_str());
    logMessage(&logger, LOG_INFO, L"next\n");
    logger.close();
    auto records = host::logRecords(path(L"long.log"));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0], "INFO: " + std::string(2047, 'x'));
    EXPECT_EQ(records[1], "INFO: next\n");
}

TEST_F(LoggerTest, MicrosoftMeaningOfPercentSAndPercentCapitalS) {
    THLogger logger;
    logger.open(path(L"fmt.log").c_str(), 7, LOG_FILE, nullptr);
    logMessage(&logger, LOG_INFO, L"[%s] [%S] [%ld] [%u]\n", L"wide text", "narrow text", 70000L,
               4000000000u);
    logger.close();
    EXPECT_EQ(host::logRecords(path(L"fmt.log")),
              (std::vector<std::string>{"INFO: [wide text] [narrow text] [70000] [4000000000]\n"}));
}

TEST_F(LoggerTest, NonAsciiTextIsWrittenAsUtf8) {
    THLogger logger;
    logger.open(path(L"u.log").c_str(), 7, LOG_FILE, nullptr);
    logMessage(&logger, LOG_INFO, L"%s\n", L"Gr\u00fc\u00dfe \u4e2d");
    logger.close();
    EXPECT_EQ(host::logRecords(path(L"u.log")), (std::vector<std::string>{"INFO: Gr\xC3\xBC\xC3\x9F"
                                                                          "e \xE4\xB8\xAD\n"}));
}

TEST_F(LoggerTest, ReopenSamePathKeepsTheFileOtherPathSwitches) {
    THLogger logger;
    logger.open(path(L"one.log").c_str(), 7, LOG_FILE, nullptr);
    logMessage(&logger, LOG_INFO, L"first\n");
    logger.open(path(L"ONE.LOG").c_str(), 7, LOG_FILE, nullptr);
    logMessage(&logger, LOG_INFO, L"second\n");
    logger.open(path(L"two.log").c_str(), 7, LOG_FILE, nullptr);
    logMessage(&logger, LOG_INFO, L"third\n");
    logger.close();
    EXPECT_EQ(host::logRecords(path(L"one.log")),
              (std::vector<std::string>{"INFO: first\n", "INFO: second\n"}));
    EXPECT_EQ(host::logRecords(path(L"two.log")), (std::vector<std::string>{"INFO: third\n"}));
    // Without the FILE output nothing is written.
    logger.open(path(L"three.log").c_str(), 7, LOG_DEBUGGER, nullptr);
    logMessage(&logger, LOG_INFO, L"to the debugger only\n");
    EXPECT_FALSE(logger.hasFile());
    EXPECT_FALSE(host::exists(path(L"three.log")));
}

TEST_F(LoggerTest, PathTooLongIsRefusedNotCut) {
    std::wstring longPath = kDir + L"\\" + std::wstring(260, L'a') + L".log";
    THLogger logger;
    logger.open(longPath.c_str(), 7, LOG_FILE, nullptr);
    logMessage(&logger, LOG_INFO, L"nowhere\n");
    EXPECT_FALSE(logger.hasFile());
    std::wstring cut = longPath.substr(0, 260);
    EXPECT_FALSE(host::exists(cut));
}

TEST_F(LoggerTest, RotationKeepsFiveCopies) {
    for (int n = 1; n <= 5; ++n) {
        host::writeFile(path((std::to_wstring(n) + L"_r.log").c_str()), "old" + std::to_string(n));
    }
    host::writeFile(path(L"r.log"), "current");
    rotateFiles(path(L"r.log").c_str());
    EXPECT_FALSE(host::exists(path(L"r.log")));
    EXPECT_EQ(host::readFile(path(L"1_r.log")), "current");
    for (int n = 2; n <= 5; ++n) {
        EXPECT_EQ(host::readFile(path((std::to_wstring(n) + L"_r.log").c_str())),
                  "old" + std::to_string(n - 1));
    }
}

TEST_F(LoggerTest, RotationWithoutOlderFilesStillOpens) {
    THLogger logger;
    logger.open(path(L"fresh.log").c_str(), 7, LOG_FILE, nullptr);
    EXPECT_TRUE(logger.hasFile());
    logMessage(&logger, LOG_INFO, L"hello\n");
    logger.close();
    EXPECT_EQ(host::logRecords(path(L"fresh.log")), (std::vector<std::string>{"INFO: hello\n"}));
    EXPECT_FALSE(host::exists(path(L"1_fresh.log")));
    rotateFiles(L"no-backslash.log");  // nothing to rotate, must not touch anything
}

TEST_F(LoggerTest, SingletonInstanceRules) {
    // An empty path gives the silent default logger and makes nothing.
    THLogger* silent = THSingletonLogger::instance(L"", 7, LOG_FILE);
    ASSERT_NE(silent, nullptr);
    EXPECT_EQ(silent->mask(), 0);
    EXPECT_EQ(silent->outputs(), 0);
    THLogger* first = THSingletonLogger::instance(path(L"s1.log").c_str(), 7, LOG_FILE);
    ASSERT_NE(first, nullptr);
    EXPECT_NE(first, silent);
    THLogger* second = THSingletonLogger::instance(path(L"s2.log").c_str(), 1, LOG_FILE);
    EXPECT_EQ(second, first);
    EXPECT_EQ(second->mask(), 7);
    logMessage(second, LOG_INFO, L"kept\n");
    EXPECT_FALSE(host::exists(path(L"s2.log")));
    EXPECT_EQ(host::logRecords(path(L"s1.log")), (std::vector<std::string>{"INFO: kept\n"}));
    first->close();
    logMessage(nullptr, LOG_INFO, L"a null logger is skipped\n");
}

namespace {

int gRegisterCalls = 0;
int gEventsSent = 0;
std::wstring gLastEventText;

ULONG WINAPI countingRegister(WMIDPREQUEST,
                              PVOID,
                              LPCGUID,
                              ULONG,
                              PTRACE_GUID_REGISTRATION,
                              LPCWSTR,
                              LPCWSTR,
                              PTRACEHANDLE handle) {
    ++gRegisterCalls;
    *handle = 77;
    return ERROR_SUCCESS;
}
ULONG WINAPI okUnregister(TRACEHANDLE) {
    return ERROR_SUCCESS;
}
TRACEHANDLE WINAPI loggerHandle(PVOID) {
    return 5;
}
ULONG WINAPI enableFlags(TRACEHANDLE) {
    return 0;
}
UCHAR WINAPI enableLevel(TRACEHANDLE) {
    return 4;
}
ULONG WINAPI countingTraceEvent(TRACEHANDLE, PEVENT_TRACE_HEADER header) {
    ++gEventsSent;
    gLastEventText = reinterpret_cast<TraceEventRecord*>(header)->text;
    return ERROR_SUCCESS;
}

}  // namespace

TEST_F(LoggerTest, NewLogStartsWithTheHeaderBlockOnce) {
    THLogger logger;
    logger.open(path(L"Relocator.log").c_str(), 7, LOG_FILE, nullptr);
    logMessage(&logger, LOG_INFO, L"first\n");
    logger.open(path(L"relocator.LOG").c_str(), 7, LOG_FILE, nullptr);  // same file: no header
    logMessage(&logger, LOG_INFO, L"second\n");
    logger.close();
    std::string t = text(path(L"Relocator.log"));
    const std::string rule(72, '=');
    const std::string header = "\r\n" + rule + "\r\nTarvos Host Logging: Relocator.log\r\n" +
                               "Initial Logging Subscriptions: ERROR WARN INFO\r\n" +
                               "OS Version Info: ";
    ASSERT_EQ(t.compare(0, header.size(), header), 0) << t;
    size_t osEnd = t.find("\r\n", header.size());
    ASSERT_NE(osEnd, std::string::npos);
    EXPECT_EQ(t.compare(osEnd, rule.size() + 4, "\r\n" + rule + "\r\n"), 0) << t;
    EXPECT_EQ(t.find(rule, osEnd + rule.size() + 4), std::string::npos) << "one header only";
    EXPECT_EQ(host::logRecords(path(L"Relocator.log")),
              (std::vector<std::string>{"INFO: first\n", "INFO: second\n"}));
}

TEST_F(LoggerTest, TraceOutputRegistersOnceAndSendsOnlyWhileEnabled) {
    TraceApi fake = {countingRegister, okUnregister, loggerHandle,
                     enableFlags,      enableLevel,  countingTraceEvent};
    TraceApi previous = setTraceApiForTest(fake);
    gRegisterCalls = gEventsSent = 0;
    {
        THLogger logger;
        logger.open(path(L"t.log").c_str(), 7, LOG_FILE | LOG_TRACE, nullptr);
        logger.open(path(L"t.log").c_str(), 7, LOG_FILE | LOG_TRACE, nullptr);
        EXPECT_EQ(gRegisterCalls, 1);
        logMessage(&logger, LOG_INFO, L"not enabled yet\n");
        EXPECT_EQ(gEventsSent, 0);
        traceControlCallback(WMI_ENABLE_EVENTS, nullptr, nullptr, nullptr);
        logMessage(&logger, LOG_INFO, L"hello\n");
        EXPECT_EQ(gEventsSent, 1);
        EXPECT_EQ(gLastEventText, L"T:hello\n");
        logMessage(&logger, LOG_DEBUG, L"masked\n");
        EXPECT_EQ(gEventsSent, 1);
    }
    // Closing the logger ends the registration and the enablement.
    EXPECT_FALSE(gTraceProvider.traceEnabled);
    EXPECT_EQ(gTraceProvider.registrationHandle, 0u);
    setTraceApiForTest(previous);
}
