#include "cryptfile/crypt_file_reader.h"

#include <cstring>
#include <new>

#include "cryptfile/wide_path.h"

using cryptfile::WidePath;

namespace {

// What unwritten bytes of the line buffer hold: neither a terminator nor a line feed.
constexpr char kUnwritten = '\x01';

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
