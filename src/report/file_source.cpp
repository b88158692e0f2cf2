#include "report/file_source.h"

#include <cerrno>
#include <cstring>

#include "report/file_system.h"

namespace report {

FileSource::FileSource(const std::filesystem::path& path) {
    errno = 0;
#ifdef _WIN32
    file_.reset(_wfopen(systemPath(path).c_str(), L"rb"));
#else
    file_.reset(std::fopen(path.c_str(), "rb"));
#endif
    if (!file_) {
        error_ = errno != 0 ? std::strerror(errno) : "cannot be opened";
        return;
    }
    // The report reads in large blocks (line_scanner): a stream buffer only costs a query of
    // the file's size and a copy, per file, and a fleet has a million files.
    std::setvbuf(file_.get(), nullptr, _IONBF, 0);
}

int FileSource::ReadByte() {
    return file_ ? std::fgetc(file_.get()) : -1;
}

bool FileSource::Rewind() {
    return file_ && std::fseek(file_.get(), 0, SEEK_SET) == 0;
}

size_t FileSource::Read(uint8_t* buf, size_t n) {
    return file_ ? std::fread(buf, 1, n, file_.get()) : 0;
}

bool FileSource::ReadFailed() const {
    return !file_ || std::ferror(file_.get()) != 0;
}

}  // namespace report
