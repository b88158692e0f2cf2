#include "cryptfile/crypt_file_reader.h"

#include <fcntl.h>
#include <io.h>
#include <sddl.h>

#include <cstring>
#include <new>
#include <vector>

namespace {

// What unwritten bytes of the line buffer hold: neither a terminator nor a line feed.
constexpr char kUnwritten = '\x01';
// Bytes gathered before each write of the deciphered text, and read per block of a plain copy.
constexpr size_t kOutputBlockBytes = 1024 * 1024;
constexpr size_t kCopyBlockBytes = 64 * 1024;

// Converts a zero-terminated UTF-8 path; false for a path too long to be used whole.
bool WidePath(const char* utf8, std::wstring& wide) {
    wide.clear();
    if (!utf8)
        return false;
    const int units = ::MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    if (units <= 0 || static_cast<size_t>(units) > CCryptFileReader::kMaxPathUnits + 1)
        return false;
    std::vector<wchar_t> buffer(static_cast<size_t>(units));
    if (::MultiByteToWideChar(CP_UTF8, 0, utf8, -1, buffer.data(), units) != units)
        return false;
    wide.assign(buffer.data(), static_cast<size_t>(units) - 1);
    return true;
}

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
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kPrivateFileSecurity,
                                                                SDDL_REVISION_1, &descriptor,
                                                                nullptr)) {
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
    if (std::ferror(in.get()))
        return Abandon(out, destination);
    if (!CloseWritten(out))
        return Abandon(out, destination);
    return true;
}

}  // namespace

int CCryptFileReader::FileSource::ReadByte() {
    const int c = std::getc(file_);
    return c == EOF ? -1 : c;
}

bool CCryptFileReader::FileSource::Rewind() {
    if (std::fseek(file_, 0, SEEK_SET) != 0)
        return false;
    std::clearerr(file_);
    return true;
}

size_t CCryptFileReader::FileSource::Read(uint8_t* buf, size_t n) {
    return std::fread(buf, 1, n, file_);
}

bool CCryptFileReader::FileSource::ReadFailed() const {
    return std::ferror(file_) != 0;
}

CCryptFileReader::CCryptFileReader(bool withLocks) {
    std::memset(small_, kUnwritten, sizeof(small_));
    if (withLocks)
        locks_.Initialize();
}

CCryptFileReader::~CCryptFileReader() {
    Close();
    locks_.Release();
}

bool CCryptFileReader::Open(const char* path, bool lockWhileOpen, const char* keyText) {
    if (!path)
        return false;
    if (file_)
        Close();
    std::wstring wide;
    if (!WidePath(path, wide))
        return false;

    SetLockedFile(lockWhileOpen, wide.c_str());
    FILE* file = ::_wfopen(wide.c_str(), L"rb");
    if (!file || !AttachFile(file, keyText)) {
        SetLockedFile(false, nullptr);
        return false;
    }
    return true;
}

bool CCryptFileReader::AttachFile(FILE* file, const char* keyText) {
    if (!file)
        return false;
    CloseStream();
    file_.reset(file);
    source_.set(file);
    decoder_.Attach(&source_, keyText);
    return true;
}

void CCryptFileReader::CloseStream() {
    decoder_.Detach();
    source_.set(nullptr);
    file_.reset();
    lineFailed_ = false;
    lineLength_ = 0;
}

void CCryptFileReader::Close() {
    CloseStream();
    SetLockedFile(false, nullptr);
}

void CCryptFileReader::SetLockedFile(bool lock, const wchar_t* path) {
    if (!lock) {
        if (!lockedPath_.empty()) {
            locks_.Unlock(lockedPath_);
            lockedPath_.clear();
        }
        return;
    }
    if (!path || !*path)
        return;
    wchar_t normalized[kMaxPathUnits + 1] = {};
    const std::wstring target =
        locks_.NormalizeLockPath(path, normalized, kMaxPathUnits + 1) ? normalized : path;
    if (target == lockedPath_)
        return;
    SetLockedFile(false, nullptr);
    if (locks_.Lock(target))
        lockedPath_ = target;
}

void CCryptFileReader::SkipBytes(int32_t count) {
    if (file_)
        decoder_.SkipBytes(count);
}

char* CCryptFileReader::ReadLineUtf8(char* buffer, int32_t capacity) {
    if (!file_)
        return nullptr;
    return decoder_.ReadLineUtf8(buffer, capacity);
}

char16_t* CCryptFileReader::ReadLineUtf16(char16_t* buffer, uint32_t capacity) {
    if (!file_)
        return nullptr;
    return decoder_.ReadLineUtf16(buffer, capacity);
}

// The decoder writes a line's bytes and its terminator from `from` on and nothing beyond, and a
// line feed only as the line's last byte. Bytes it did not write hold kUnwritten, so the line ends
// after the first line feed or, without one, at the last zero byte.
size_t CCryptFileReader::MeasureLine(size_t from) const {
    const size_t capacity = static_cast<size_t>(lineCapacity_);
    const void* lf = std::memchr(lineBuffer_ + from, '\n', capacity - from);
    if (lf)
        return static_cast<size_t>(static_cast<const char*>(lf) - lineBuffer_) + 1;
    size_t end = capacity;
    while (end > from && lineBuffer_[end - 1] != '\0')
        --end;
    return end > from ? end - 1 : from;
}

bool CCryptFileReader::GrowLineBuffer(size_t keep) {
    if (lineCapacity_ > INT32_MAX / 2)
        return false;
    const size_t capacity = static_cast<size_t>(lineCapacity_) * 2;
    std::unique_ptr<char[]> grown(new (std::nothrow) char[capacity]);
    if (!grown)
        return false;
    std::memcpy(grown.get(), lineBuffer_, keep);
    std::memset(grown.get() + keep, kUnwritten, capacity - keep);
    heap_ = std::move(grown);
    lineBuffer_ = heap_.get();
    lineCapacity_ = static_cast<int32_t>(capacity);
    dirty_ = keep;
    return true;
}

void CCryptFileReader::ResetLineBuffer() {
    heap_.reset();
    lineBuffer_ = small_;
    lineCapacity_ = kInitialLineCapacity;
    std::memset(small_, kUnwritten, sizeof(small_));
    dirty_ = 0;
}

char* CCryptFileReader::LineFailed() {
    ResetLineBuffer();
    lineLength_ = 0;
    lineFailed_ = true;
    return nullptr;
}

char* CCryptFileReader::NextLine() {
    lineLength_ = 0;
    if (!file_)
        return nullptr;
    std::memset(lineBuffer_, kUnwritten, dirty_);
    dirty_ = 0;

    if (!decoder_.ReadLineUtf8(lineBuffer_, lineCapacity_))
        return nullptr;
    size_t length = MeasureLine(0);
    dirty_ = length + 1;
    // A line without its line feed was cut by the full buffer (or the file ended): grow and read
    // on. After a doubling the free rest holds at least 13 bytes, room for any character, so a
    // null here is the end of the file.
    while (length > 0 && lineBuffer_[length - 1] != '\n') {
        if (!GrowLineBuffer(length))
            return LineFailed();
        if (!decoder_.ReadLineUtf8(lineBuffer_ + length,
                                   lineCapacity_ - static_cast<int32_t>(length))) {
            break;
        }
        length = MeasureLine(length);
        dirty_ = length + 1;
    }
    if (decoder_.error())
        return LineFailed();
    if (length == 0 || lineBuffer_[length - 1] != '\n') {
        if (length + 2 > static_cast<size_t>(lineCapacity_) && !GrowLineBuffer(length)) {
            return LineFailed();
        }
        lineBuffer_[length++] = '\n';
        lineBuffer_[length] = '\0';
        dirty_ = length + 1;
    }
    lineLength_ = length;
    return lineBuffer_;
}

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
        if (reader.ReadFailed() || !CloseWritten(out))
            return Abandon(out, destination);
        return true;
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
    if (!flush() || reader.ReadFailed())
        return Abandon(out, destination);
    if (!CloseWritten(out))
        return Abandon(out, destination);
    return true;
}
