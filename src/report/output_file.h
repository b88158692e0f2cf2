// A file the report writes one of its outputs into, opened by its path on either platform.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace report {

class OutputFile {
  public:
    // Opens (and empties) the file; ok() tells whether that and every write since succeeded.
    explicit OutputFile(const std::filesystem::path& path);

    void put(std::string_view text);
    // Flushes and closes the file; true when everything reached it.
    bool close();
    bool ok() const { return file_ != nullptr && !failed_; }

  private:
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> file_;
    bool failed_ = false;
};

}  // namespace report
