#include "win/child_process.h"

#include <memory>
#include <vector>

#include "win/library_search.h"

namespace win {

namespace {

using InitializeList = BOOL(WINAPI*)(LPPROC_THREAD_ATTRIBUTE_LIST, DWORD, DWORD, PSIZE_T);
using UpdateList =
    BOOL(WINAPI*)(LPPROC_THREAD_ATTRIBUTE_LIST, DWORD, DWORD_PTR, PVOID, SIZE_T, PVOID, PSIZE_T);
using DeleteList = VOID(WINAPI*)(LPPROC_THREAD_ATTRIBUTE_LIST);

// The attribute list calls exist from Vista on; looked up so that the tool still starts on
// Server 2003.
struct AttributeListCalls {
    InitializeList initialize = nullptr;
    UpdateList update = nullptr;
    DeleteList remove = nullptr;
    AttributeListCalls() {
        HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
        initialize = procAddress<InitializeList>(kernel, "InitializeProcThreadAttributeList");
        update = procAddress<UpdateList>(kernel, "UpdateProcThreadAttribute");
        remove = procAddress<DeleteList>(kernel, "DeleteProcThreadAttributeList");
    }
    bool present() const { return initialize && update && remove; }
};

// A list that names the only handles the child inherits.
class HandleList {
  public:
    HandleList(const AttributeListCalls& calls, HANDLE* handles, size_t count) : calls_(calls) {
        SIZE_T size = 0;
        calls_.initialize(nullptr, 1, 0, &size);
        if (size == 0)
            return;
        buffer_.resize(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.data());
        if (!calls_.initialize(list, 1, 0, &size))
            return;
        initialized_ = true;
        if (calls_.update(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles,
                          count * sizeof(HANDLE), nullptr, nullptr)) {
            list_ = list;
        }
    }
    ~HandleList() {
        if (initialized_)
            calls_.remove(reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.data()));
    }
    HandleList(const HandleList&) = delete;
    HandleList& operator=(const HandleList&) = delete;
    LPPROC_THREAD_ATTRIBUTE_LIST get() const { return list_; }

  private:
    const AttributeListCalls& calls_;
    std::vector<unsigned char> buffer_;
    bool initialized_ = false;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

HANDLE openNul(DWORD access) {
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    return CreateFileW(L"NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                       OPEN_EXISTING, 0, nullptr);
}

}  // namespace

DWORD startChild(const std::wstring& commandLine,
                 const ChildOptions& options,
                 ScopedHandle& process) try {
    process.reset();
    ScopedHandle nulIn(openNul(GENERIC_READ));
    ScopedHandle nulOut(openNul(GENERIC_WRITE));
    if (!nulIn || !nulOut)
        return GetLastError();

    STARTUPINFOEXW startup = {};
    startup.StartupInfo.cb = sizeof(startup.StartupInfo);
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = nulIn.get();
    startup.StartupInfo.hStdOutput = nulOut.get();
    startup.StartupInfo.hStdError = nulOut.get();
    if (options.hidden) {
        startup.StartupInfo.dwFlags |= STARTF_USESHOWWINDOW;
        startup.StartupInfo.wShowWindow = SW_HIDE;
    }

    static const AttributeListCalls calls;
    HANDLE inherited[] = {nulIn.get(), nulOut.get()};
    std::unique_ptr<HandleList> list;
    if (calls.present() && options.handleList)
        list.reset(new HandleList(calls, inherited, 2));
    DWORD flags = options.creationFlags;
    BOOL inherit = FALSE;
    if (list && list->get()) {
        startup.StartupInfo.cb = sizeof(startup);
        startup.lpAttributeList = list->get();
        flags |= EXTENDED_STARTUPINFO_PRESENT;
        inherit = TRUE;
    } else {
        // Without the list (before Vista, or where it cannot be made) a child inherits every
        // inheritable handle, and its standard handles must be handles it inherits: the NUL
        // handles made for it are handed over, and our own standard handles (the deployment
        // job's pipe) are made non-inheritable first. Nothing else of ours is inheritable: the
        // log and the guard are opened so.
        for (DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
            HANDLE own = GetStdHandle(which);
            if (own != nullptr && own != INVALID_HANDLE_VALUE)
                SetHandleInformation(own, HANDLE_FLAG_INHERIT, 0);
        }
        inherit = TRUE;
    }

    // The system may write into the command line while it starts the process.
    std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
    writable.push_back(L'\0');
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, inherit, flags, nullptr,
                        options.currentFolder, &startup.StartupInfo, &info)) {
        return GetLastError();
    }
    CloseHandle(info.hThread);
    process.reset(info.hProcess);
    return ERROR_SUCCESS;
} catch (...) {
    // Out of memory: report it as this operation's failure; nothing may escape to the caller.
    return ERROR_NOT_ENOUGH_MEMORY;
}

DWORD runChild(const std::wstring& commandLine,
               const ChildOptions& options,
               DWORD& exitCode,
               const std::function<void(HANDLE)>& started) {
    exitCode = 0;
    ScopedHandle process;
    DWORD error = startChild(commandLine, options, process);
    if (error != ERROR_SUCCESS)
        return error;
    if (started)
        started(process.get());
    if (WaitForSingleObject(process.get(), INFINITE) == WAIT_FAILED)
        return GetLastError();
    return GetExitCodeProcess(process.get(), &exitCode) ? ERROR_SUCCESS : GetLastError();
}

}  // namespace win
