#include <gtest/gtest.h>

#include "host_support.h"
#include "migration/process_control.h"

namespace {

const std::wstring kDir = L"C:\\relo_pc";

class ProcessControlTest : public ::testing::Test {
  protected:
    void SetUp() override { host::freshFolder(kDir); }
    void TearDown() override {
        for (HANDLE h : handles_) {
            TerminateProcess(h, 1);
            WaitForSingleObject(h, 5000);
            CloseHandle(h);
        }
        host::removeTree(kDir);
    }
    HANDLE launch(const wchar_t* fake, const wchar_t* name, const std::wstring& folder = kDir) {
        host::makeDirs(folder);
        std::wstring exe = folder + L"\\" + name;
        host::installFake(fake, exe);
        HANDLE h = host::spawn(L"\"" + exe + L"\" --mode=hang", folder);
        if (h)
            handles_.push_back(h);
        return h && host::waitForRuns(exe, 1) ? h : nullptr;
    }
    std::vector<HANDLE> handles_;
};

}  // namespace

TEST_F(ProcessControlTest, SnapshotComparesWithCaseModuleSearchWithout) {
    HANDLE h = launch(L"fake_service.exe", L"CaseProbe.exe");
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(isProcessRunning(L"CaseProbe.exe"));
    EXPECT_FALSE(isProcessRunning(L"caseprobe.exe"));
    EXPECT_EQ(findProcessId(L"caseprobe.exe"), GetProcessId(h));
    EXPECT_EQ(findProcessId(L"CASEPROBE.EXE"), GetProcessId(h));
}

TEST_F(ProcessControlTest, A64BitProcessIsFoundByItsImageName) {
    HANDLE h = launch(L"fake_service64.exe", L"Probe64.exe");
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(isProcessRunning(L"Probe64.exe"));
    EXPECT_EQ(findProcessId(L"probe64.exe"), GetProcessId(h));
}

TEST_F(ProcessControlTest, EndedProcessesAreNotFound) {
    HANDLE h = launch(L"fake_service.exe", L"Gone.exe");
    ASSERT_NE(h, nullptr);
    TerminateProcess(h, 0);
    WaitForSingleObject(h, 5000);
    EXPECT_FALSE(isProcessRunning(L"Gone.exe"));
    EXPECT_EQ(findProcessId(L"Gone.exe"), 0u);
    EXPECT_EQ(findProcessId(L"NoSuchProgram.exe"), 0u);
}

// The rescue ends the process the service control manager names, checked by its image, and
// nothing else of that name; only without a usable id does it fall back to the search by name.
TEST_F(ProcessControlTest, TheRescueEndsTheNamedAgentProcessOnly) {
    HANDLE bystander = launch(L"fake_service.exe", L"thService.exe", kDir + L"\\other");
    HANDLE agent = launch(L"fake_service.exe", L"thService.exe", kDir + L"\\agent");
    HANDLE unrelated = launch(L"fake_service.exe", L"Unrelated.exe");
    ASSERT_TRUE(bystander && agent && unrelated);

    terminateTarvosProcess(GetProcessId(agent));
    // Waited for: gone when the call returns.
    ASSERT_EQ(WaitForSingleObject(agent, 0), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(agent, &code);
    EXPECT_EQ(code, kTerminatedExitCode);
    EXPECT_EQ(WaitForSingleObject(bystander, 0), static_cast<DWORD>(WAIT_TIMEOUT));

    // An id whose image is another program is not the agent's: the search by name decides.
    terminateTarvosProcess(GetProcessId(unrelated));
    EXPECT_EQ(WaitForSingleObject(unrelated, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForSingleObject(bystander, 0), WAIT_OBJECT_0);
}
