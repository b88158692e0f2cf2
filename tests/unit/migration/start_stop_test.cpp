// StartStop against Wine's real service control manager, with the service fake.
#include <gtest/gtest.h>

#include <errno.h>

#include "host_support.h"
#include "migration/start_stop.h"
#include "win/error_text.h"

namespace {

const std::wstring kDir = L"C:\\relo_ss";

class StartStopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        clean();
        host::freshFolder(kDir);
        host::installFake(L"fake_service.exe", kDir + L"\\svc.exe");
    }
    void TearDown() override {
        clean();
        host::removeTree(kDir);
    }
    static void clean() {
        for (const wchar_t* name : {L"RelocTestA", L"RelocTestB", L"KLOTarvos", L"Glacis"}) {
            host::removeService(name);
        }
        host::killByName(L"svc.exe");
    }
    std::wstring exe() const { return kDir + L"\\svc.exe"; }
    std::wstring quoted() const { return L"\"" + exe() + L"\""; }
};

}  // namespace

TEST_F(StartStopTest, AddServiceRegistersQuotedDemandStartOwnProcess) {
    StartStop ss;
    EXPECT_EQ(ss.addService(exe().c_str(), L"RelocTestA", L"Reloc Test A"), 0u);
    auto info = host::queryService(L"RelocTestA");
    ASSERT_TRUE(info.exists);
    EXPECT_EQ(info.binaryPath, quoted());
    EXPECT_EQ(info.startType, static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_EQ(info.serviceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
}

TEST_F(StartStopTest, AddServiceKeepsAnExistingRegistration) {
    ASSERT_EQ(host::createService(L"RelocTestA", L"\"C:\\elsewhere\\other.exe\""), 0u);
    StartStop ss;
    EXPECT_EQ(ss.addService(exe().c_str(), L"RelocTestA", L"Reloc Test A"), 0u);
    EXPECT_EQ(host::queryService(L"RelocTestA").binaryPath, L"\"C:\\elsewhere\\other.exe\"");
}

TEST_F(StartStopTest, AddServiceRefusesARegistrationMarkedForDeletion) {
    ASSERT_EQ(host::createService(L"RelocTestA", quoted()), 0u);
    ASSERT_EQ(host::startService(L"RelocTestA"), 0u);
    // Deleting a running service only marks it.
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE svc = OpenServiceW(scm, L"RelocTestA", SERVICE_ALL_ACCESS);
    ASSERT_TRUE(DeleteService(svc));
    CloseServiceHandle(svc);
    CloseServiceHandle(scm);
    StartStop ss;
    EXPECT_EQ(ss.addService(exe().c_str(), L"RelocTestA", L"Reloc Test A"),
              static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
}

TEST_F(StartStopTest, NewAgentFormIsAutomaticInteractiveKLOTarvos) {
    StartStop ss;
    EXPECT_EQ(ss.addService(exe().c_str()), 0u);
    auto info = host::queryService(L"KLOTarvos");
    ASSERT_TRUE(info.exists);
    EXPECT_EQ(info.binaryPath, quoted());
    EXPECT_EQ(info.startType, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(info.serviceType,
              static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS));
}

TEST_F(StartStopTest, AddServiceRefusesAPathThatWouldNotFitQuoted) {
    StartStop ss;
    std::wstring longPath = L"C:\\" + std::wstring(256, L'x') + L".exe";
    EXPECT_EQ(ss.addService(longPath.c_str(), L"RelocTestA", L"A"),
              static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_FALSE(host::queryService(L"RelocTestA").exists);
}

TEST_F(StartStopTest, StartSingleServiceResults) {
    StartStop ss;
    EXPECT_EQ(ss.startSingleService(L"RelocTestA"),
              static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    ASSERT_EQ(host::createService(L"RelocTestA", quoted()), 0u);
    EXPECT_EQ(ss.startSingleService(L"RelocTestA"), 0u);
    ASSERT_TRUE(host::waitForState(L"RelocTestA", SERVICE_RUNNING, 10000));
    EXPECT_EQ(ss.startSingleService(L"RelocTestA"),
              static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING));
}

TEST_F(StartStopTest, RemoveServiceStopsDeletesAndWaits) {
    ASSERT_EQ(host::createService(L"RelocTestA", quoted()), 0u);
    ASSERT_EQ(host::startService(L"RelocTestA"), 0u);
    StartStop ss;
    EXPECT_EQ(ss.removeService(L"RelocTestA"), 0u);
    EXPECT_FALSE(host::queryService(L"RelocTestA").exists);
}

TEST_F(StartStopTest, RemoveServiceOnAStoppedServiceStillDeletes) {
    ASSERT_EQ(host::createService(L"RelocTestB", quoted()), 0u);
    StartStop ss;
    EXPECT_EQ(ss.removeService(L"RelocTestB"), 0u);
    EXPECT_FALSE(host::queryService(L"RelocTestB").exists);
    EXPECT_EQ(ss.removeService(L"RelocTestB"), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}

TEST_F(StartStopTest, DeleteGlacisdOnAStoppedServiceRemovesIt) {
    StartStop ss;
    EXPECT_EQ(ss.deleteGlacisd(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    ASSERT_EQ(host::createService(L"Glacis", quoted()), 0u);
    EXPECT_EQ(ss.deleteGlacisd(), 0u);
    EXPECT_FALSE(host::queryService(L"Glacis").exists);
}

TEST_F(StartStopTest, StartRampartRunsTheWorkingFolderCopyWithDashS) {
    std::wstring work = host::freshFolder(kDir + L"\\work");
    ASSERT_TRUE(SetCurrentDirectoryW(work.c_str()));
    StartStop ss;
    EXPECT_EQ(ss.rampartExecutable(), work + L"\\Rampart.exe");
    // Missing program: the CRT's "no such file", nothing run.
    EXPECT_EQ(ss.startRampart(), static_cast<DWORD>(ENOENT));

    host::installFake(L"fake_service.exe", work + L"\\Rampart.exe", "exit 0");
    EXPECT_EQ(ss.startRampart(), 0u);
    auto runs = host::runsOf(work + L"\\Rampart.exe");
    ASSERT_EQ(runs.size(), 1u);
    std::wstring expected = L"\"" + work + L"\\Rampart.exe\" -s\t" + work;
    EXPECT_EQ(runs[0], std::string(expected.begin(), expected.end()));

    // A failing run is reported with its exit code, never as success.
    host::setMode(work + L"\\Rampart.exe", "exit 7");
    EXPECT_EQ(ss.startRampart(), 7u);
    SetCurrentDirectoryW(L"C:\\");
}

TEST_F(StartStopTest, WorkingFolderTakesBackslashes) {
    std::wstring work = host::freshFolder(kDir + L"\\w2");
    ASSERT_TRUE(SetCurrentDirectoryW(L"C:/relo_ss/w2"));
    StartStop ss;
    EXPECT_EQ(ss.workingFolder().find(L'/'), std::wstring::npos);
    EXPECT_EQ(_wcsicmp(ss.workingFolder().c_str(), work.c_str()), 0);
    SetCurrentDirectoryW(L"C:\\");
}

TEST(ErrorText, SystemTextWithoutTrailingLineBreak) {
    wchar_t expected[512] = {};
    ASSERT_GT(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0x400, expected, 512, nullptr),
              0u);
    std::wstring want(expected);
    while (!want.empty() && (want.back() == L'\n' || want.back() == L'\r'))
        want.pop_back();
    EXPECT_EQ(std::wstring(errorText(5)), want);
    EXPECT_FALSE(want.empty());
}

TEST(ErrorText, UnknownCodeGivesTheNumber) {
    EXPECT_STREQ(errorText(0x2345678), L"36984440");
}

TEST(ErrorText, Utf8FormMatchesTheWideText) {
    std::wstring wide = errorText(2);
    std::string utf8 = errorTextUtf8(2);
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring back(static_cast<size_t>(n - 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &back[0], n);
    EXPECT_EQ(back, wide);
}

TEST(QuotePath, QuotesAndRefusesWhatWouldNotFit) {
    std::wstring quoted;
    EXPECT_TRUE(quotePath(L"C:\\a b\\x.exe", quoted));
    EXPECT_EQ(quoted, L"\"C:\\a b\\x.exe\"");
    EXPECT_TRUE(quotePath(std::wstring(257, L'a'), quoted));
    EXPECT_EQ(quoted.size(), 259u);
    EXPECT_FALSE(quotePath(std::wstring(258, L'a'), quoted));
    EXPECT_TRUE(quoted.empty());
}
