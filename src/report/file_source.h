// A file as a byte source for the log reader, opened by its path on either platform (a wide
// path on Windows, so that any host name works). Only a regular file is read: a device, FIFO
// or socket (a hostile collection can link one in under a log's name) is refused once opened,
// before any read, since a device never ends and a FIFO waits for a writer.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "cryptfile/text_format.h"

namespace report {

class FileSource : public cryptfile::ByteSource {
  public:
    // Opens the file for reading; ok() tells whether it opened and is a regular file, error()
    // why not.
    explicit FileSource(const std::filesystem::path& path);
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    bool ok() const;
    const std::string& error() const { return error_; }

    int ReadByte() override;
    bool Rewind() override;
    size_t Read(uint8_t* buf, size_t n) override;
    bool ReadFailed() const override { return failed_; }

  private:
#ifdef _WIN32
    void* file_ = nullptr;  // the file's HANDLE; null when it did not open
#else
    // The descriptor itself: the report reads in large blocks, and a stream would read once
    // more after the end of each of a million small files.
    int fd_ = -1;
#endif
    bool failed_ = false;
    std::string error_;
};

}  // namespace report
