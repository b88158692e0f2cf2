// Programs the tool starts hold none of its handles, with the system's handle list and without
// it (as before Vista): a program left running never keeps the deployment job's pipe open.
#include <gtest/gtest.h>

#include "host_support.h"
#include "win/child_process.h"

namespace {

const std::wstring kDir = L"C:\\relo_child";

// Whether every writer of the pipe has closed it, within about two seconds.
bool pipeEnds(HANDLE reader) {
    for (int i = 0; i < 100; ++i) {
        DWORD available = 0;
        if (!PeekNamedPipe(reader, nullptr, 0, nullptr, &available, nullptr))
            return GetLastError() == ERROR_BROKEN_PIPE;
        Sleep(20);
    }
    return false;
}

}  // namespace

TEST(ChildProcess, ALeftProgramHoldsNotOurStandardHandles) {
    host::freshFolder(kDir);
    const std::wstring exe = kDir + L"\\resident.exe";
    host::installFake(L"fake_service.exe", exe);
    for (const bool list : {true, false}) {
        SCOPED_TRACE(list ? "handle list" : "no handle list");
        // Our standard output is an inheritable pipe, as a deployment job's is.
        SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
        HANDLE reader = nullptr;
        HANDLE writer = nullptr;
        ASSERT_TRUE(CreatePipe(&reader, &writer, &inheritable, 0));
        const HANDLE saved = GetStdHandle(STD_OUTPUT_HANDLE);
        SetStdHandle(STD_OUTPUT_HANDLE, writer);

        win::ChildOptions options;
        options.currentFolder = kDir.c_str();
        options.handleList = list;
        win::ScopedHandle child;
        const DWORD started = win::startChild(L"\"" + exe + L"\" --mode=hang", options, child);
        SetStdHandle(STD_OUTPUT_HANDLE, saved);
        ASSERT_EQ(started, 0u);
        ASSERT_TRUE(host::waitForRuns(exe, list ? 1 : 2));

        CloseHandle(writer);
        EXPECT_TRUE(pipeEnds(reader)) << "the child holds the pipe";
        EXPECT_EQ(WaitForSingleObject(child.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
            << "the child did not start properly";
        TerminateProcess(child.get(), 1);
        WaitForSingleObject(child.get(), 5000);
        CloseHandle(reader);
    }
    host::removeTree(kDir);
}
