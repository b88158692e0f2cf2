#include "report/file_system.h"

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

void appendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string win32Error(DWORD code) {
    return "error " + codeText(code);
}

struct FindCloser {
    void operator()(HANDLE h) const { FindClose(h); }
};
using FindHandle = std::unique_ptr<void, FindCloser>;

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
            appendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (w[i + 1] - 0xDC00));
            ++i;
        } else if (high || low) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
            out += escaped;
        } else {
            appendUtf8(out, c);
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
        entry.kind = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? EntryKind::Link
                     : (attributes & FILE_ATTRIBUTE_DIRECTORY)   ? EntryKind::Folder
                                                                 : EntryKind::File;
        visit(entry);
    } while (FindNextFileW(find.get(), &data));
    const DWORD error = GetLastError();
    return error == ERROR_NO_MORE_FILES ? std::string() : win32Error(error);
}

EntryKind kindOf(const fs::path& path, std::string& error) {
    const DWORD attributes = GetFileAttributesW(systemPath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        error = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? "no such file"
                                                                             : win32Error(code);
        return EntryKind::Unknown;
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::Folder : EntryKind::File;
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
            type = S_ISLNK(st.st_mode) ? DT_LNK : S_ISDIR(st.st_mode) ? DT_DIR : DT_REG;
        }
        entry.kind = type == DT_LNK   ? EntryKind::Link
                     : type == DT_DIR ? EntryKind::Folder
                                      : EntryKind::File;
        visit(entry);
    }
}

EntryKind kindOf(const fs::path& path, std::string& error) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status)) {
        error = ec && ec != std::errc::no_such_file_or_directory ? ec.message() : "no such file";
        return EntryKind::Unknown;
    }
    return fs::is_directory(status) ? EntryKind::Folder : EntryKind::File;
}

#endif

}  // namespace report
