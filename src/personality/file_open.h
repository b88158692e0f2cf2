// Opening a file by a UTF-16 path on every platform: _wfopen on Windows, the UTF-8 form of
// the path and fopen elsewhere. Portable: no <windows.h>.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace personality {

struct FileCloser {
    void operator()(FILE* f) const {
        if (f != nullptr) {
            fclose(f);
        }
    }
};

// Owns one C stream; closed when it goes out of scope.
using UniqueFile = std::unique_ptr<FILE, FileCloser>;

// UTF-8 form of a UTF-16 text; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const std::u16string& text);

// Opens path (zero-terminated UTF-16) with a C stream mode such as "rb"; null when the path
// is null or empty or the file cannot be opened.
UniqueFile OpenFileUtf16(const char16_t* path, const char* mode);

// Deletes the file; true on success.
bool RemoveFileUtf16(const char16_t* path);

}  // namespace personality
