#include "report/output_file.h"

#include "report/file_system.h"

namespace report {

OutputFile::OutputFile(const std::filesystem::path& path) {
#ifdef _WIN32
    file_.reset(_wfopen(systemPath(path).c_str(), L"wb"));
#else
    file_.reset(std::fopen(path.c_str(), "wb"));
#endif
}

void OutputFile::put(std::string_view text) {
    if (file_ && std::fwrite(text.data(), 1, text.size(), file_.get()) != text.size())
        failed_ = true;
}

bool OutputFile::close() {
    if (!file_)
        return false;
    const bool flushed = std::fflush(file_.get()) == 0;
    const bool closed = std::fclose(file_.release()) == 0;
    return flushed && closed && !failed_;
}

}  // namespace report
