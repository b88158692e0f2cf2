#include "report/file_source.h"

#include <cerrno>
#include <cstring>

#include "report/file_system.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace report {

#ifdef _WIN32

FileSource::FileSource(const std::filesystem::path& path) {
    errno = 0;
    file_ = _wfopen(systemPath(path).c_str(), L"rb");
    if (!file_) {
        failed_ = true;
        error_ = errno != 0 ? std::strerror(errno) : "cannot be opened";
        return;
    }
    // The report reads in large blocks (line_scanner): a stream buffer only costs a query of
    // the file's size and a copy, per file, and a fleet has a million files.
    std::setvbuf(file_, nullptr, _IONBF, 0);
}

FileSource::~FileSource() {
    if (file_)
        std::fclose(file_);
}

bool FileSource::ok() const {
    return file_ != nullptr;
}

int FileSource::ReadByte() {
    return file_ ? std::fgetc(file_) : -1;
}

bool FileSource::Rewind() {
    return file_ && std::fseek(file_, 0, SEEK_SET) == 0;
}

size_t FileSource::Read(uint8_t* buf, size_t n) {
    if (!file_)
        return 0;
    const size_t got = std::fread(buf, 1, n, file_);
    failed_ = failed_ || std::ferror(file_) != 0;
    return got;
}

#else

FileSource::FileSource(const std::filesystem::path& path) {
    // Non-blocking: a FIFO named like a log (a hostile collection) reads as empty instead of
    // waiting for a writer forever. Regular files ignore the flag.
    fd_ = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        failed_ = true;
        error_ = std::strerror(errno);
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
        // A FIFO without a writer answers EAGAIN: nothing to read, not a failure.
        failed_ = errno != EAGAIN;
        return 0;
    }
}

#endif

}  // namespace report
