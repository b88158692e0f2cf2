#include "report/file_system.h"
#include "text/utf8_text.h"

#include <cstdint>
#include <cstdio>

#include "report/text_escape.h"

#ifdef _WIN32
#include <windows.h>

#include <memory>

#include "report/host_report.h"
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>
#endif

namespace report {

namespace fs = std::filesystem;

#ifdef _WIN32

namespace {

std::string win32Error(DWORD code) {
    return "error " + codeText(code);
}

struct FindCloser {
    void operator()(HANDLE h) const { FindClose(h); }
};
using FindHandle = std::unique_ptr<void, FindCloser>;

struct HandleCloser {
    void operator()(HANDLE h) const {
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
};
using FileHandle = std::unique_ptr<void, HandleCloser>;

// A handle to what the path leads to (a link followed) that cannot read: no access asked.
HANDLE openForQuery(const fs::path& path) {
    return CreateFileW(systemPath(path).c_str(), 0,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace

std::string pathText(const fs::path& path) {
    const std::wstring& w = path.native();
    std::string out;
    out.reserve(w.size());
    for (size_t i = 0; i < w.size(); ++i) {
        const uint32_t c = w[i];
        const bool high = c >= 0xD800 && c <= 0xDBFF;
        const bool low = c >= 0xDC00 && c <= 0xDFFF;
        if (high && i + 1 < w.size() && w[i + 1] >= 0xDC00 && w[i + 1] <= 0xDFFF) {
            text::appendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (w[i + 1] - 0xDC00));
            ++i;
        } else if (high || low) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
            out += escaped;
        } else {
            text::appendUtf8(out, c);
        }
    }
    return out;
}

fs::path systemPath(const fs::path& path) {
    std::wstring text = path.native();
    for (wchar_t& c : text)
        c = c == L'/' ? L'\\' : c;
    if (text.rfind(L"\\\\?\\", 0) == 0)
        return text;
    // GetFullPathNameW is text work only: it takes any length, and drops "." and "..", which
    // the \\?\ form does not interpret.
    const DWORD need = GetFullPathNameW(text.c_str(), 0, nullptr, nullptr);
    if (need == 0)
        return text;
    std::wstring full(need, L'\0');
    const DWORD n = GetFullPathNameW(text.c_str(), need, &full[0], nullptr);
    if (n == 0 || n >= need)
        return text;
    full.resize(n);
    // A device name ("NUL", "COM1") comes back as \\.\NAME, which the \\?\ form would lose.
    if (full.rfind(L"\\\\.\\", 0) == 0)
        return full;
    if (full.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

std::string listFolder(const fs::path& folder,
                       const std::function<void(const FolderEntry&)>& visit) {
    WIN32_FIND_DATAW data = {};
    // FindExInfoStandard: FindExInfoBasic is refused before Windows 7.
    const std::wstring pattern = systemPath(folder).native() + L"\\*";
    FindHandle find(FindFirstFileExW(pattern.c_str(), FindExInfoStandard, &data,
                                     FindExSearchNameMatch, nullptr, 0));
    if (find.get() == INVALID_HANDLE_VALUE) {
        find.release();
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? std::string() : win32Error(error);
    }
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..")
            continue;
        FolderEntry entry;
        entry.path = folder / name;
        const DWORD attributes = data.dwFileAttributes;
        entry.kind = (attributes & FILE_ATTRIBUTE_DEVICE)          ? EntryKind::Special
                     : (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? EntryKind::Link
                     : (attributes & FILE_ATTRIBUTE_DIRECTORY)     ? EntryKind::Folder
                                                                   : EntryKind::File;
        if (entry.kind == EntryKind::Special)
            entry.error = specialText(FILE_TYPE_DISK);
        visit(entry);
    } while (FindNextFileW(find.get(), &data));
    const DWORD error = GetLastError();
    return error == ERROR_NO_MORE_FILES ? std::string() : win32Error(error);
}

EntryKind kindOf(const fs::path& path, std::string& error) {
    const DWORD attributes = GetFileAttributesW(systemPath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
            error = "no such file";
            return EntryKind::Unknown;
        }
        // A device ("\\.\NUL") or a link to one may have no attributes to give (Wine: 66, 87),
        // yet open.
        FileHandle target(openForQuery(path));
        if (target.get() != INVALID_HANDLE_VALUE)
            return kindOfHandle(target.get(), error);
        error = win32Error(code);
        return EntryKind::Unknown;
    }
    if (attributes & FILE_ATTRIBUTE_DEVICE) {
        error = specialText(FILE_TYPE_DISK);
        return EntryKind::Special;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return EntryKind::Folder;
    // The attributes are a link's own, and a device name's are made up ("NUL" says archive):
    // ask what the path leads to.
    FileHandle target(openForQuery(path));
    // One that cannot be opened so is left to the reader, which says why it fails.
    return target.get() == INVALID_HANDLE_VALUE ? EntryKind::File
                                                : kindOfHandle(target.get(), error);
}

EntryKind kindOfHandle(void* handle, std::string& what) {
    const DWORD type = GetFileType(handle);
    BY_HANDLE_FILE_INFORMATION info = {};
    const bool known = GetFileInformationByHandle(handle, &info) != 0;
    if (type != FILE_TYPE_DISK || (known && (info.dwFileAttributes & FILE_ATTRIBUTE_DEVICE))) {
        what = specialText(type);
        return EntryKind::Special;
    }
    return known && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::Folder
                                                                       : EntryKind::File;
}

std::string specialText(unsigned type) {
    const char* what = type == FILE_TYPE_CHAR   ? "a character device"
                       : type == FILE_TYPE_PIPE ? "a pipe"
                                                : "a device";
    return std::string(what) + ", not a regular file";
}

#else

std::string pathText(const fs::path& path) {
    return escapedUtf8(path.native());
}

fs::path systemPath(const fs::path& path) {
    return path;
}

std::string listFolder(const fs::path& folder,
                       const std::function<void(const FolderEntry&)>& visit) {
    // The system's own listing: the library's iterator costs two more calls per folder, and a
    // collection of a million hosts has a million folders.
    struct Closer {
        void operator()(DIR* d) const { closedir(d); }
    };
    std::unique_ptr<DIR, Closer> dir(opendir(folder.c_str()));
    if (!dir)
        return std::strerror(errno);
    for (;;) {
        errno = 0;
        const dirent* d = readdir(dir.get());
        if (d == nullptr)
            return errno != 0 ? std::strerror(errno) : std::string();
        if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0)
            continue;
        FolderEntry entry;
        entry.path = folder / d->d_name;
        unsigned char type = d->d_type;
        if (type == DT_UNKNOWN) {
            // Some file systems do not say in the listing: ask, without following a link.
            struct stat st = {};
            if (fstatat(dirfd(dir.get()), d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                entry.error = std::strerror(errno);
                visit(entry);
                continue;
            }
            type = IFTODT(st.st_mode);
        }
        entry.kind = type == DT_LNK   ? EntryKind::Link
                     : type == DT_DIR ? EntryKind::Folder
                     : type == DT_REG ? EntryKind::File
                                      : EntryKind::Special;
        if (entry.kind == EntryKind::Special)
            entry.error = specialText(DTTOIF(type));
        visit(entry);
    }
}

EntryKind kindOf(const fs::path& path, std::string& error) {
    struct stat st = {};
    if (stat(path.c_str(), &st) != 0) {
        error = errno == ENOENT ? "no such file" : std::strerror(errno);
        return EntryKind::Unknown;
    }
    if (S_ISDIR(st.st_mode))
        return EntryKind::Folder;
    if (S_ISREG(st.st_mode))
        return EntryKind::File;
    error = specialText(st.st_mode);
    return EntryKind::Special;
}

std::string specialText(unsigned type) {
    const char* what = S_ISFIFO(type)   ? "a FIFO"
                       : S_ISCHR(type)  ? "a character device"
                       : S_ISBLK(type)  ? "a block device"
                       : S_ISSOCK(type) ? "a socket"
                                        : "a special file";
    return std::string(what) + ", not a regular file";
}

#endif

}  // namespace report
