#include "report/file_source.h"

#include <cerrno>
#include <cstring>

#include "report/file_system.h"

#ifdef _WIN32
#include <windows.h>

#include <algorithm>

#include "report/host_report.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace report {

#ifdef _WIN32

FileSource::FileSource(const std::filesystem::path& path) {
    // Shared as the C library opens a file, so that a log still being written can be read.
    HANDLE file = CreateFileW(systemPath(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        failed_ = true;
        error_ = "error " + codeText(GetLastError());
        return;
    }
    // What the handle leads to (a link is followed): a console, printer, serial port or pipe
    // is no disk file, and a file system may mark a device by its attributes.
    std::string what;
    if (kindOfHandle(file, what) == EntryKind::Special) {
        CloseHandle(file);
        failed_ = true;
        error_ = what + " (not read)";
        return;
    }
    file_ = file;
}

FileSource::~FileSource() {
    if (file_)
        CloseHandle(file_);
}

bool FileSource::ok() const {
    return file_ != nullptr;
}

int FileSource::ReadByte() {
    uint8_t byte = 0;
    return Read(&byte, 1) == 1 ? byte : -1;
}

bool FileSource::Rewind() {
    LARGE_INTEGER start = {};
    return file_ && SetFilePointerEx(file_, start, nullptr, FILE_BEGIN);
}

size_t FileSource::Read(uint8_t* buf, size_t n) {
    if (!file_ || failed_)
        return 0;
    // The reader reads in large blocks (line_scanner) and asks again until it gets nothing.
    const DWORD want = static_cast<DWORD>(std::min<size_t>(n, 1u << 30));
    DWORD got = 0;
    if (!ReadFile(file_, buf, want, &got, nullptr)) {
        failed_ = true;
        return 0;
    }
    return got;
}

#else

FileSource::FileSource(const std::filesystem::path& path) {
    // Non-blocking and no terminal taken over: opening a FIFO does not wait for a writer, and
    // opening a device does as little as it can before it is refused. Regular files ignore both.
    fd_ = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) {
        failed_ = true;
        error_ = std::strerror(errno);
        return;
    }
    // Asked of the open file, not of its name: a link swapped meanwhile changes nothing.
    struct stat st = {};
    const bool known = fstat(fd_, &st) == 0;
    if (!known || !S_ISREG(st.st_mode)) {
        error_ = known ? specialText(st.st_mode) + " (not read)" : std::strerror(errno);
        close(fd_);
        fd_ = -1;
        failed_ = true;
    }
}

FileSource::~FileSource() {
    if (fd_ >= 0)
        close(fd_);
}

bool FileSource::ok() const {
    return fd_ >= 0;
}

int FileSource::ReadByte() {
    uint8_t byte = 0;
    return Read(&byte, 1) == 1 ? byte : -1;
}

bool FileSource::Rewind() {
    return fd_ >= 0 && lseek(fd_, 0, SEEK_SET) == 0;
}

size_t FileSource::Read(uint8_t* buf, size_t n) {
    if (fd_ < 0 || failed_)
        return 0;
    // One call: the reader asks again until it gets nothing, and a small log ends at once.
    for (;;) {
        const ssize_t r = read(fd_, buf, n);
        if (r >= 0)
            return static_cast<size_t>(r);
        if (errno == EINTR)
            continue;
        failed_ = true;
        return 0;
    }
}

#endif

}  // namespace report
