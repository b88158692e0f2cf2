#include "cryptfile/file_lock_table.h"

#include <memory>

namespace {

struct LockRow {
    const wchar_t* file;
    const wchar_t* mutex;
};

// Every process that is to respect the locks uses these names.
constexpr LockRow kLockRows[] = {
    {L"glacis.ini", L"QSX_PD_8631E02D3FF4"},      {L"floeset.ini", L"QSX_PD_8BBD08CFC6E2"},
    {L"firewall.ini", L"QSX_PD_3B01791637FB"},    {L"protect.ini", L"QSX_PD_B6F65C9D3B6A"},
    {L"protectgbl.ini", L"QSX_PD_9CAA7756FB17"},  {L"comply.ini", L"QSX_PD_F09E015C1E29"},
    {L"complygbl.ini", L"QSX_PD_42F8B16C883B"},   {L"boep.ini", L"QSX_PD_55D9B2C3C9EB"},
    {L"boepgbl.ini", L"QSX_PD_FD7C7777EB91"},     {L"jobs.ini", L"QSX_PD_B83165DADAE2"},
    {L"attack-list.csv", L"QSX_PD_0CC21BFEFFA3"},
};

struct LocalFreeDeleter {
    void operator()(void* p) const { ::LocalFree(p); }
};
using LocalMemory = std::unique_ptr<void, LocalFreeDeleter>;

// A descriptor whose DACL is present and null: every user may open and use the mutexes, so the
// agent's services and the tool share them whatever account each runs under.
LocalMemory MakeOpenDescriptor() {
    LocalMemory sd(::LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH));
    if (!sd)
        return nullptr;
    if (!::InitializeSecurityDescriptor(sd.get(), SECURITY_DESCRIPTOR_REVISION))
        return nullptr;
    if (!::SetSecurityDescriptorDacl(sd.get(), TRUE, nullptr, FALSE))
        return nullptr;
    return sd;
}

HANDLE CreateOrOpenMutex(SECURITY_ATTRIBUTES* sa, const wchar_t* name) {
    HANDLE h = ::CreateMutexW(sa, FALSE, name);
    if (h)
        return h;
    // A mutex made by another account with a narrower descriptor may still be opened for use.
    if (::GetLastError() == ERROR_ACCESS_DENIED) {
        h = ::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, TRUE, name);
    }
    return h;
}

}  // namespace

CFileLockTable::~CFileLockTable() {
    Release();
}

bool CFileLockTable::ExecutableFolder(std::wstring& folder) {
    folder.clear();
    wchar_t path[kMaxPathUnits + 1] = {};
    const DWORD n = ::GetModuleFileNameW(nullptr, path, static_cast<DWORD>(kMaxPathUnits + 1));
    // A result that fills the buffer was cut: a cut folder would name another place.
    if (n == 0 || n > kMaxPathUnits)
        return false;
    const std::wstring full(path, n);
    const size_t slash = full.find_last_of(L'\\');
    if (slash == std::wstring::npos)
        return false;
    folder = full.substr(0, slash + 1);
    return true;
}

void CFileLockTable::Initialize() {
    Release();
    std::wstring folder;
    ExecutableFolder(folder);

    LocalMemory sd = MakeOpenDescriptor();
    SECURITY_ATTRIBUTES sa = {};
    static_assert(sizeof(void*) != 4 || sizeof(sa) == 12,
                  "32-bit security attributes are 12 bytes");
    sa.nLength = sizeof(sa);
    sa.lpSecurityDescriptor = sd.get();
    sa.bInheritHandle = TRUE;

    for (const LockRow& row : kLockRows) {
        win::ScopedHandle mutex(CreateOrOpenMutex(sd ? &sa : nullptr, row.mutex));
        if (!mutex)
            continue;
        mutexes_[folder + row.file] = std::move(mutex);
    }
    initialized_ = true;
}

bool CFileLockTable::Lock(const std::wstring& path) {
    if (!initialized_)
        return false;
    const auto it = mutexes_.find(path);
    if (it == mutexes_.end())
        return false;
    const DWORD wait = ::WaitForSingleObject(it->second.get(), kLockWaitMs);
    // An abandoned mutex belongs to this thread now: report it as held, so that it is released.
    return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

bool CFileLockTable::Unlock(const std::wstring& path) {
    if (!initialized_)
        return false;
    const auto it = mutexes_.find(path);
    if (it == mutexes_.end())
        return false;
    return ::ReleaseMutex(it->second.get()) != FALSE;
}

void CFileLockTable::Release() {
    initialized_ = false;
    mutexes_.clear();  // each ScopedHandle closes its mutex
}

bool CFileLockTable::NormalizeLockPath(const wchar_t* path, wchar_t* out, size_t capacity) const {
    if (!path || !*path || !out || capacity == 0)
        return false;
    std::wstring copy(path);
    if (copy.size() > kMaxPathUnits)
        return false;
    for (wchar_t& c : copy) {
        if (c == L'/')
            c = L'\\';
    }

    std::wstring result = copy;
    if (copy.find(L'\\') != std::wstring::npos) {
        if (!(copy.size() >= 2 && copy[1] == L':')) {
            wchar_t full[kMaxPathUnits + 1] = {};
            const DWORD n = ::GetFullPathNameW(copy.c_str(), static_cast<DWORD>(kMaxPathUnits + 1),
                                               full, nullptr);
            // A failed or oversized resolution keeps the copy; it is not cut.
            if (n != 0 && n <= kMaxPathUnits)
                result.assign(full, n);
        }
    } else {
        std::wstring folder;
        if (ExecutableFolder(folder))
            result = folder + copy;
    }

    if (result.size() > kMaxPathUnits || result.size() + 1 > capacity)
        return false;
    result.copy(out, result.size());
    out[result.size()] = L'\0';
    return true;
}
