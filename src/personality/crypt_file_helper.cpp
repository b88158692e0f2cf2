#include "personality/crypt_file_helper.h"

#include <cstring>
#include <limits>
#include <new>

namespace {

constexpr int32_t kInitialLineCapacity = 4;
// A line longer than this many units is handed out in pieces of about this size, each
// parsed as a line of its own; no file of the product comes anywhere near it.
constexpr int32_t kMaxLineCapacity = 1 << 24;

// Byte source over an open C stream, read through the stream's own buffering. A read error
// ends the data like the end of the file does.
class FileByteSource : public cryptfile::ByteSource {
  public:
    explicit FileByteSource(FILE* file) : file_(file) {}
    int ReadByte() override {
        int c = fgetc(file_);
        return c == EOF ? -1 : c;
    }
    bool Rewind() override {
        clearerr(file_);
        return fseek(file_, 0, SEEK_SET) == 0;
    }
    size_t Read(uint8_t* buf, size_t n) override { return fread(buf, 1, n, file_); }
    bool ReadFailed() const override { return ferror(file_) != 0; }

  private:
    FILE* file_;
};

size_t UnitLength(const char16_t* text) {
    size_t n = 0;
    while (text[n] != u'\0') {
        ++n;
    }
    return n;
}

}  // namespace

bool IsIniWhitespace(char16_t unit) {
    switch (unit) {
        case 0x0009:
        case 0x000A:
        case 0x000B:
        case 0x000C:
        case 0x000D:
        case 0x0020:
        case 0x00A0:
        case 0x1680:
        case 0x2028:
        case 0x2029:
        case 0x202F:
        case 0x205F:
        case 0x3000:
            return true;
        default:
            return unit >= 0x2000 && unit <= 0x200A;
    }
}

int32_t ParseDecimalInt32(const std::u16string& text) {
    size_t k = 0;
    while (k < text.size() && IsIniWhitespace(text[k])) {
        ++k;
    }
    bool negative = false;
    if (k < text.size() && (text[k] == u'+' || text[k] == u'-')) {
        negative = text[k] == u'-';
        ++k;
    }
    // Magnitude capped just past the 32-bit range, so it never overflows.
    const int64_t limit = static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1;
    int64_t magnitude = 0;
    for (; k < text.size() && text[k] >= u'0' && text[k] <= u'9'; ++k) {
        magnitude = magnitude * 10 + (text[k] - u'0');
        if (magnitude > limit) {
            magnitude = limit;
        }
    }
    int64_t value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<int32_t>::max()) {
        return std::numeric_limits<int32_t>::max();
    }
    if (value < std::numeric_limits<int32_t>::min()) {
        return std::numeric_limits<int32_t>::min();
    }
    return static_cast<int32_t>(value);
}

CCryptFileHelper::CCryptFileHelper()
    : lineCapacity_(kInitialLineCapacity),
      lineBuffer_(new (std::nothrow) char16_t[kInitialLineCapacity]()) {
    if (!lineBuffer_) {
        lineCapacity_ = 0;
    }
}

CCryptFileHelper::~CCryptFileHelper() = default;

bool CCryptFileHelper::FileExists(const char16_t* path) const {
    return static_cast<bool>(personality::OpenFileUtf16(path, "rb"));
}

void CCryptFileHelper::SetPath(const char16_t* path) {
    path_ = path;
}

bool CCryptFileHelper::Load(const char16_t* path) {
    path_ = path;
    if (!FileExists(path)) {
        return false;
    }
    file_ = personality::OpenFileUtf16(path, "rb");
    if (!file_) {
        return false;
    }
    FileByteSource source(file_.get());
    bool parsed = LoadFrom(source);
    file_.reset();
    return parsed;
}

bool CCryptFileHelper::LoadFrom(cryptfile::ByteSource& source) {
    decoder_.Attach(&source, cryptfile::kKeyText);
    encoding_ = decoder_.encoding();
    encrypted_ = decoder_.encrypted() ? 1 : 0;
    attached_ = true;
    bool parsed = true;
    try {
        ParseLines();
    } catch (const std::bad_alloc&) {
        parsed = false;
    }
    decoder_.Detach();
    attached_ = false;
    return parsed;
}

bool CCryptFileHelper::GrowLineBuffer() {
    if (lineCapacity_ <= 0 || lineCapacity_ > kMaxLineCapacity / 2) {
        return false;
    }
    const int32_t capacity = lineCapacity_ * 2;
    std::unique_ptr<char16_t[]> grown(new (std::nothrow) char16_t[capacity]);
    if (!grown) {
        return false;
    }
    // The old text with its terminator, so the free rest starts terminated.
    std::memcpy(grown.get(), lineBuffer_.get(),
                (UnitLength(lineBuffer_.get()) + 1) * sizeof(char16_t));
    lineBuffer_ = std::move(grown);
    lineCapacity_ = capacity;
    return true;
}

char16_t* CCryptFileHelper::NextWideLine() {
    if (!attached_ || !lineBuffer_) {
        return nullptr;
    }
    char16_t* line = lineBuffer_.get();
    if (decoder_.ReadLineUtf16(line, static_cast<uint32_t>(lineCapacity_)) == nullptr) {
        return nullptr;
    }
    size_t length = UnitLength(lineBuffer_.get());
    // A line that does not end in a line feed filled the buffer or ended with the file.
    while (length > 0 && lineBuffer_[length - 1] != u'\n') {
        if (!GrowLineBuffer()) {
            break;
        }
        char16_t* rest = lineBuffer_.get() + length;
        uint32_t restCapacity =
            static_cast<uint32_t>(lineCapacity_) - static_cast<uint32_t>(length);
        if (decoder_.ReadLineUtf16(rest, restCapacity) == nullptr) {
            break;
        }
        length += UnitLength(rest);
    }
    if (length == 0 || lineBuffer_[length - 1] != u'\n') {
        if (length + 2 <= static_cast<size_t>(lineCapacity_) || GrowLineBuffer()) {
            lineBuffer_[length] = u'\n';
            lineBuffer_[length + 1] = u'\0';
        }
    }
    return lineBuffer_.get();
}

void CCryptFileHelper::TrimWhitespace(std::u16string& line) {
    size_t end = line.size();
    while (end > 0 && IsIniWhitespace(line[end - 1])) {
        --end;
    }
    size_t begin = 0;
    while (begin < end && IsIniWhitespace(line[begin])) {
        ++begin;
    }
    line.erase(end);
    line.erase(0, begin);
}

void CCryptFileHelper::ParseLines() {
    std::u16string currentSection;
    for (const char16_t* line = NextWideLine(); line != nullptr; line = NextWideLine()) {
        ParseLine(std::u16string(line), currentSection);
    }
}

void CCryptFileHelper::ParseLine(std::u16string line, std::u16string& currentSection) {
    TrimWhitespace(line);
    if (line.empty()) {
        return;
    }
    if (line[0] == u';' || line[0] == u'\r' || line[0] == u'\n') {
        return;
    }
    if (line[0] == u'[' && line.back() == u']') {
        // Length is at least 2 here, and the last unit is a ']', so one is found.
        size_t close = line.find(u']', 1);
        currentSection = line.substr(1, close - 1);
        return;
    }
    size_t equals = line.find(u'=', 1);
    if (equals == std::u16string::npos) {
        return;
    }
    AddEntry(currentSection, line.substr(0, equals), line.substr(equals + 1));
}

void CCryptFileHelper::AddEntry(const std::u16string& sectionName,
                                const std::u16string& key,
                                const std::u16string& value) {
    IniSection* section = FindSection(sectionName);
    if (section == nullptr) {
        IniSection added;
        added.name = sectionName;
        added.entries.emplace(key, value);
        sections_.push_back(std::move(added));
        return;
    }
    if (HasKey(*section, key)) {
        section->entries[key] = value;
    } else {
        section->entries.emplace(key, value);
    }
}

IniSection* CCryptFileHelper::FindSection(const std::u16string& name) {
    for (IniSection& section : sections_) {
        if (section.name == name) {
            return &section;
        }
    }
    return nullptr;
}

const IniSection* CCryptFileHelper::FindSection(const std::u16string& name) const {
    for (const IniSection& section : sections_) {
        if (section.name == name) {
            return &section;
        }
    }
    return nullptr;
}

bool CCryptFileHelper::HasKey(const IniSection& section, const std::u16string& key) {
    return section.entries.find(key) != section.entries.end();
}

bool CCryptFileHelper::GetString(const std::u16string& section,
                                 const std::u16string& key,
                                 std::u16string& out) const {
    const IniSection* found = FindSection(section);
    if (found == nullptr) {
        return false;
    }
    auto entry = found->entries.find(key);
    if (entry == found->entries.end()) {
        return false;
    }
    try {
        out = entry->second;
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool CCryptFileHelper::GetInt(const std::u16string& section,
                              const std::u16string& key,
                              int32_t& out) const {
    std::u16string text;
    if (!GetString(section, key, text)) {
        return false;
    }
    out = ParseDecimalInt32(text);
    return true;
}
