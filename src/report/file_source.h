// A file as a byte source for the log reader, opened by its path on either platform (a wide
// path on Windows, so that any host name works).
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "cryptfile/text_format.h"

namespace report {

class FileSource : public cryptfile::ByteSource {
  public:
    // Opens the file for reading; ok() tells whether it opened, error() why not.
    explicit FileSource(const std::filesystem::path& path);

    bool ok() const { return file_ != nullptr; }
    const std::string& error() const { return error_; }

    int ReadByte() override;
    bool Rewind() override;
    size_t Read(uint8_t* buf, size_t n) override;
    bool ReadFailed() const override;

  private:
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> file_;
    std::string error_;
};

}  // namespace report
