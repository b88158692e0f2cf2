#include "cryptfile/decrypt_file.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <sddl.h>

#include <cstring>
#include <memory>
#include <new>

#include "cryptfile/crypt_file_reader.h"
#include "cryptfile/wide_path.h"
#include "win/scoped.h"

using cryptfile::WidePath;

namespace {

// Bytes gathered before each write of the deciphered text, and read per block of a plain copy.
constexpr size_t kOutputBlockBytes = 1024 * 1024;
constexpr size_t kCopyBlockBytes = 64 * 1024;

// Closes a stream that was written to; false when its last buffered bytes could not be written.
bool CloseWritten(win::ScopedFile& file) {
    FILE* f = file.release();
    return f && std::fclose(f) == 0;
}

// A destination that was created or truncated and could not be finished does not stay behind
// looking like a result.
bool Abandon(win::ScopedFile& file, const std::wstring& path) {
    file.reset();
    ::DeleteFileW(path.c_str());
    return false;
}

// The last step of every copy: a destination is closed when all before went well (ok) and its
// last buffered bytes could be written, and removed otherwise.
bool Finish(win::ScopedFile& file, const std::wstring& path, bool ok) {
    if (!ok || !CloseWritten(file))
        return Abandon(file, path);
    return true;
}

// SYSTEM and administrators only, nothing inherited from the folder: a deciphered copy holds
// what the stored form hides from the host's users.
constexpr wchar_t kPrivateFileSecurity[] = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)";

// Creates the destination of deciphered text, readable and writable by SYSTEM and
// administrators only. A file of that name is deleted first rather than emptied: it would keep
// its own access rules. Null when it cannot be made so.
FILE* OpenPrivateOutput(const std::wstring& path) {
    if (!::DeleteFileW(path.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND)
        return nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            kPrivateFileSecurity, SDDL_REVISION_1, &descriptor, nullptr)) {
        return nullptr;
    }
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
    HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    ::LocalFree(descriptor);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(handle);
        ::DeleteFileW(path.c_str());
        return nullptr;
    }
    FILE* file = ::_fdopen(fd, "wb");
    if (!file) {
        ::_close(fd);
        ::DeleteFileW(path.c_str());
    }
    return file;
}

bool CopyPlain(const std::wstring& source, const std::wstring& destination) {
    win::ScopedFile in(::_wfopen(source.c_str(), L"rb"));
    if (!in)
        return false;
    win::ScopedFile out(OpenPrivateOutput(destination));
    if (!out)
        return false;
    std::unique_ptr<char[]> block(new (std::nothrow) char[kCopyBlockBytes]);
    if (!block)
        return Abandon(out, destination);
    for (;;) {
        const size_t n = std::fread(block.get(), 1, kCopyBlockBytes, in.get());
        if (n > 0 && std::fwrite(block.get(), 1, n, out.get()) != n) {
            return Abandon(out, destination);
        }
        if (n < kCopyBlockBytes)
            break;
    }
    return Finish(out, destination, !std::ferror(in.get()));
}

}  // namespace

bool DecryptFileToFile(const char* source, const char* destination) try {
    std::wstring wideSource;
    std::wstring wideDestination;
    if (!WidePath(source, wideSource) || !WidePath(destination, wideDestination))
        return false;

    CCryptFileReader reader;
    if (!reader.Open(source, true, cryptfile::kKeyText))
        return false;
    if (!reader.IsEncrypted()) {
        // The lock guards reading the stored form; a plain copy does not need it.
        reader.Close();
        return CopyPlain(wideSource, wideDestination);
    }
    return WriteLinesToFile(reader, wideDestination);
} catch (...) {
    // Out of memory: report it as this operation's failure; nothing may escape to the caller.
    return false;
}

bool WriteLinesToFile(CCryptFileReader& reader, const std::wstring& destination) {
    if (destination.size() > CCryptFileReader::kMaxPathUnits)
        return false;
    // The bytes of a text-mode write (each line feed preceded by a carriage return), made here
    // and written in large blocks: Wine's CRT translates text-mode writes a byte at a time and
    // in small pieces, which cost more than deciphering the file.
    win::ScopedFile out(OpenPrivateOutput(destination));
    if (!out)
        return false;
    std::unique_ptr<char[]> block(new (std::nothrow) char[kOutputBlockBytes]);
    if (!block)
        return Abandon(out, destination);
    size_t used = 0;
    auto flush = [&]() {
        const bool ok = used == 0 || std::fwrite(block.get(), 1, used, out.get()) == used;
        used = 0;
        return ok;
    };

    if (cryptfile::ReadsAsBytes(reader.GetEncoding())) {
        // Text read as bytes goes across a block at a time: lines cost nothing of their own.
        size_t n = 0;
        char last = '\n';
        while ((n = reader.ReadCrLfText(block.get(), kOutputBlockBytes)) > 0) {
            if (std::fwrite(block.get(), 1, n, out.get()) != n)
                return Abandon(out, destination);
            last = block[n - 1];
        }
        // NextLine ends a last line without its line feed with one.
        if (last != '\n' && std::fwrite("\r\n", 1, 2, out.get()) != 2)
            return Abandon(out, destination);
        return Finish(out, destination, !reader.ReadFailed());
    }
    while (const char* line = reader.NextLine()) {
        const size_t body = reader.LineLength() - 1;  // every line ends in one line feed
        if (used + body + 2 > kOutputBlockBytes && !flush())
            return Abandon(out, destination);
        if (body + 2 > kOutputBlockBytes) {
            if (std::fwrite(line, 1, body, out.get()) != body ||
                std::fwrite("\r\n", 1, 2, out.get()) != 2) {
                return Abandon(out, destination);
            }
            continue;
        }
        std::memcpy(block.get() + used, line, body);
        used += body;
        block[used++] = '\r';
        block[used++] = '\n';
    }
    return Finish(out, destination, flush() && !reader.ReadFailed());
}
