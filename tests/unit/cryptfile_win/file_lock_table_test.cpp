// CFileLockTable on Wine: the eleven named mutexes, their keys, the open descriptor, the
// 30-second wait against another process, abandoned mutexes, path normalisation and Release.
#include <gtest/gtest.h>

#include <aclapi.h>

#include <chrono>
#include <thread>

#include "cryptfile/crypt_file_reader.h"
#include "cryptfile/file_lock_table.h"
#include "win_test_util.h"

namespace {

using namespace cryptfile_win_test;

struct Row {
    const wchar_t* file;
    const wchar_t* mutex;
};
const Row kRows[] = {
    {L"glacis.ini", L"QSX_PD_8631E02D3FF4"},      {L"floeset.ini", L"QSX_PD_8BBD08CFC6E2"},
    {L"firewall.ini", L"QSX_PD_3B01791637FB"},    {L"protect.ini", L"QSX_PD_B6F65C9D3B6A"},
    {L"protectgbl.ini", L"QSX_PD_9CAA7756FB17"},  {L"comply.ini", L"QSX_PD_F09E015C1E29"},
    {L"complygbl.ini", L"QSX_PD_42F8B16C883B"},   {L"boep.ini", L"QSX_PD_55D9B2C3C9EB"},
    {L"boepgbl.ini", L"QSX_PD_FD7C7777EB91"},     {L"jobs.ini", L"QSX_PD_B83165DADAE2"},
    {L"attack-list.csv", L"QSX_PD_0CC21BFEFFA3"},
};
const wchar_t kJobsMutex[] = L"QSX_PD_B83165DADAE2";

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::wstring Normalize(const CFileLockTable& table, const wchar_t* path, size_t capacity = 261) {
    std::wstring out(capacity ? capacity : 1, L'#');
    if (!table.NormalizeLockPath(path, &out[0], capacity))
        return L"<false>";
    return std::wstring(out.c_str());
}

std::wstring CurrentFolder() {
    wchar_t cwd[MAX_PATH + 1] = {};
    GetCurrentDirectoryW(MAX_PATH + 1, cwd);
    return cwd;
}

// Runs a test body with the current folder set to a fresh one, and restores it.
class InFolder {
  public:
    explicit InFolder(const std::wstring& folder) : old_(CurrentFolder()), folder_(folder) {
        host::freshFolder(folder);
        SetCurrentDirectoryW(folder.c_str());
    }
    ~InFolder() {
        SetCurrentDirectoryW(old_.c_str());
        host::removeTree(folder_);
    }

  private:
    std::wstring old_;
    std::wstring folder_;
};

}  // namespace

TEST(FileLockTable, OpensElevenMutexesKeyedByTheExecutablesFolder) {
    CFileLockTable table;
    EXPECT_FALSE(table.initialized());
    EXPECT_FALSE(table.Lock(ExeFolder() + L"jobs.ini"));  // not initialised: no wait, no lock

    table.Initialize();
    ASSERT_TRUE(table.initialized());
    EXPECT_EQ(table.size(), 11u);
    for (const Row& row : kRows) {
        SCOPED_TRACE(testing::Message() << Utf8(row.file));
        win::ScopedHandle byName(OpenMutexW(SYNCHRONIZE, FALSE, row.mutex));
        EXPECT_TRUE(byName.valid()) << "mutex missing: " << Utf8(row.mutex);
        const std::wstring key = ExeFolder() + row.file;
        ASSERT_TRUE(table.Lock(key));
        EXPECT_EQ(WaitElsewhere(row.mutex), static_cast<DWORD>(WAIT_TIMEOUT));
        EXPECT_TRUE(table.Unlock(key));
        EXPECT_EQ(WaitElsewhere(row.mutex), static_cast<DWORD>(WAIT_OBJECT_0));
        EXPECT_FALSE(table.Lock(row.file)) << "the bare name is no key";
    }
    // Unlock without the lock held: the release fails.
    EXPECT_FALSE(table.Unlock(ExeFolder() + L"jobs.ini"));
}

TEST(FileLockTable, MutexesCarryAnOpenDescriptor) {
    // attack-list.csv's mutex is made by no other test, so this table creates it.
    CFileLockTable table;
    table.Initialize();
    win::ScopedHandle m(OpenMutexW(READ_CONTROL, FALSE, L"QSX_PD_0CC21BFEFFA3"));
    ASSERT_TRUE(m.valid());
    PACL dacl = reinterpret_cast<PACL>(1);
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_EQ(GetSecurityInfo(m.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &dacl, nullptr, &sd),
              static_cast<DWORD>(ERROR_SUCCESS));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    EXPECT_TRUE(GetSecurityDescriptorControl(sd, &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PRESENT);
    EXPECT_EQ(dacl, nullptr) << "a present, null DACL lets every user in";
    LocalFree(sd);

    m.reset();
    table.Release();
    win::ScopedHandle keep(OpenMutexW(SYNCHRONIZE, FALSE, L"QSX_PD_0CC21BFEFFA3"));
    EXPECT_FALSE(keep.valid()) << "Release closed the last handle, so the mutex is gone";
}

TEST(FileLockTable, LookupIsExactAndImmediate) {
    CFileLockTable table;
    table.Initialize();
    std::wstring upper = ExeFolder() + L"JOBS.INI";
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(table.Lock(upper));
    EXPECT_FALSE(table.Lock(ExeFolder() + L"policy.xml"));
    EXPECT_FALSE(table.Lock(L""));
    EXPECT_FALSE(table.Unlock(upper));
    EXPECT_LT(SecondsSince(start), 1.0);

    // The bare name, normalised, finds its row.
    std::wstring key = Normalize(table, L"firewall.ini");
    EXPECT_EQ(key, ExeFolder() + L"firewall.ini");
    EXPECT_TRUE(table.Lock(key));
    EXPECT_TRUE(table.Unlock(key));
}

TEST(FileLockTable, ReleaseTwiceIsHarmlessAndEndsLocking) {
    CFileLockTable table;
    table.Initialize();
    const std::wstring key = ExeFolder() + L"boep.ini";
    table.Release();
    EXPECT_FALSE(table.initialized());
    EXPECT_EQ(table.size(), 0u);
    table.Release();
    EXPECT_FALSE(table.Lock(key));
    EXPECT_FALSE(table.Unlock(key));
    // And it can be set up again.
    table.Initialize();
    EXPECT_TRUE(table.Lock(key));
    EXPECT_TRUE(table.Unlock(key));
}

TEST(FileLockTable, NormalizesPathsAsTheKeysAreWritten) {
    CFileLockTable table;
    InFolder in(L"C:\\relo_locks");
    const std::wstring cwd = CurrentFolder();
    ASSERT_EQ(cwd, L"C:\\relo_locks");

    EXPECT_EQ(Normalize(table, L"C:/Agent/jobs.ini"), L"C:\\Agent\\jobs.ini");
    EXPECT_EQ(Normalize(table, L"C:\\Agent\\..\\jobs.ini"), L"C:\\Agent\\..\\jobs.ini")
        << "a drive path is left as it is";
    EXPECT_EQ(Normalize(table, L".\\jobs.ini"), cwd + L"\\jobs.ini");
    EXPECT_EQ(Normalize(table, L"./jobs.ini"), cwd + L"\\jobs.ini");
    EXPECT_EQ(Normalize(table, L"sub\\jobs.ini"), cwd + L"\\sub\\jobs.ini");
    EXPECT_EQ(Normalize(table, L"sub\\..\\jobs.ini"), cwd + L"\\jobs.ini");
    EXPECT_EQ(Normalize(table, L"\\Agent\\jobs.ini"), L"C:\\Agent\\jobs.ini");
    EXPECT_EQ(Normalize(table, L"jobs.ini"), ExeFolder() + L"jobs.ini");

    EXPECT_EQ(Normalize(table, nullptr), L"<false>");
    EXPECT_EQ(Normalize(table, L""), L"<false>");
    wchar_t* noBuffer = nullptr;
    EXPECT_FALSE(table.NormalizeLockPath(L"jobs.ini", noBuffer, 261));

    // Over 260 units: refused, not cut.
    const std::wstring longPath = L"C:\\" + std::wstring(258, L'a');
    EXPECT_EQ(longPath.size(), 261u);
    EXPECT_EQ(Normalize(table, longPath.c_str()), L"<false>");
    EXPECT_EQ(Normalize(table, longPath.substr(0, 260).c_str()), longPath.substr(0, 260));
    // A result that the buffer cannot hold whole.
    EXPECT_EQ(Normalize(table, L"C:\\Agent\\jobs.ini", 17), L"<false>");
    EXPECT_EQ(Normalize(table, L"C:\\Agent\\jobs.ini", 18), L"C:\\Agent\\jobs.ini");
    // A bare name that the executable's folder would push over 260.
    const std::wstring longName(260 - ExeFolder().size() + 1, L'n');
    EXPECT_EQ(Normalize(table, longName.c_str()), L"<false>");
}

// One helper process holds jobs.ini's mutex; a table's Lock and a reader's Open wait for it on
// two threads at once, and both give up after the 30-second wait.
TEST(FileLockTable, MutexHeldByAnotherProcessTimesOutAfterThirtySeconds) {
    const std::wstring jobs = ExeFolder() + L"jobs.ini";
    ASSERT_TRUE(host::writeFile(jobs, Encipher("[Jobs]\nrun=1\n")));
    MutexHolder holder(kJobsMutex, L"hold", 90000);
    ASSERT_TRUE(holder.WaitReady());

    bool opened = false;
    std::wstring readerLock = L"<unset>";
    std::string firstLine;
    double readerSeconds = 0;
    std::thread readerThread([&] {
        auto start = std::chrono::steady_clock::now();
        CCryptFileReader reader;
        opened = reader.Open(Utf8(jobs).c_str(), true, cryptfile::kKeyText);
        readerSeconds = SecondsSince(start);
        readerLock = reader.LockedPath();
        if (const char* line = reader.NextLine())
            firstLine = line;
    });

    CFileLockTable table;
    table.Initialize();
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(table.Lock(jobs));
    const double seconds = SecondsSince(start);
    readerThread.join();
    holder.Finish();
    DeleteFileW(jobs.c_str());

    EXPECT_GE(seconds, 29.5);
    EXPECT_LE(seconds, 35.0);
    // The reader opens the file all the same, unlocked.
    EXPECT_TRUE(opened);
    EXPECT_GE(readerSeconds, 29.5);
    EXPECT_LE(readerSeconds, 35.0);
    EXPECT_EQ(readerLock, L"");
    EXPECT_EQ(firstLine, "[Jobs]\n");
}

// A mutex whose owner ended without releasing it: the waiter owns it now, so it counts as taken
// and is released again by Unlock (the table) or Close (the reader).
TEST(FileLockTable, AbandonedMutexCountsAsTakenAndIsReleased) {
    const std::wstring jobs = ExeFolder() + L"jobs.ini";
    CFileLockTable table;
    table.Initialize();  // keeps the mutex alive after the helper ends
    {
        MutexHolder holder(kJobsMutex, L"abandon");
        ASSERT_TRUE(holder.WaitReady());
        ASSERT_TRUE(holder.Exited());
    }
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(table.Lock(jobs));
    EXPECT_LT(SecondsSince(start), 5.0);
    EXPECT_EQ(WaitElsewhere(kJobsMutex), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(table.Unlock(jobs));
    EXPECT_EQ(WaitElsewhere(kJobsMutex), static_cast<DWORD>(WAIT_OBJECT_0));

    // The same through a reader.
    ASSERT_TRUE(host::writeFile(jobs, "plain=1\n"));
    {
        MutexHolder holder(kJobsMutex, L"abandon");
        ASSERT_TRUE(holder.WaitReady());
        ASSERT_TRUE(holder.Exited());
    }
    {
        CCryptFileReader reader;
        ASSERT_TRUE(reader.Open(Utf8(jobs).c_str(), true, cryptfile::kKeyText));
        EXPECT_EQ(reader.LockedPath(), jobs);
        EXPECT_EQ(WaitElsewhere(kJobsMutex), static_cast<DWORD>(WAIT_TIMEOUT));
        reader.Close();
        EXPECT_EQ(reader.LockedPath(), L"");
        EXPECT_EQ(WaitElsewhere(kJobsMutex), static_cast<DWORD>(WAIT_OBJECT_0));
    }
    DeleteFileW(jobs.c_str());
}
