#include "ini_text.h"

#include <algorithm>
#include <cstring>

#include "cryptfile/text_format.h"
#include "stored_form.h"
#include "personality/file_open.h"

namespace testini {

void ParseText(CCryptFileHelper& reader, const std::u16string& text) {
    std::u16string section;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(u'\n', start);
        end = (end == std::u16string::npos) ? text.size() : end + 1;
        reader.ParseLine(text.substr(start, end - start), section);
        start = end;
    }
}

std::u16string Lookup(const CCryptFileHelper& reader,
                      const std::u16string& section,
                      const std::u16string& key) {
    std::u16string value;
    return reader.GetString(section, key, value) ? value : std::u16string(u"<missing>");
}

std::vector<uint8_t> Utf8Bytes(const std::u16string& text) {
    std::string utf8 = personality::Utf16ToUtf8(text);
    return std::vector<uint8_t>(utf8.begin(), utf8.end());
}

std::vector<uint8_t> Utf16LeBytes(const std::u16string& text) {
    std::vector<uint8_t> bytes;
    for (char16_t unit : text) {
        bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<uint8_t>(unit >> 8));
    }
    return bytes;
}

std::vector<uint8_t> WithUtf8Mark(const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> marked(bytes.size() + 3);
    marked[0] = 0xEF;
    marked[1] = 0xBB;
    marked[2] = 0xBF;
    std::copy(bytes.begin(), bytes.end(), marked.begin() + 3);
    return marked;
}

std::vector<uint8_t> Keystream(size_t n) {
    cryptfile::Rc4State state;
    cryptfile::Rc4Init(state, reinterpret_cast<const uint8_t*>(cryptfile::kKeyText),
                       std::strlen(cryptfile::kKeyText));
    std::vector<uint8_t> stream(n);
    for (uint8_t& b : stream) {
        b = cryptfile::Rc4NextByte(state);
    }
    return stream;
}

std::vector<uint8_t> Encipher(const std::vector<uint8_t>& plain) {
    return testsupport::encipher(plain);
}

TempFile::TempFile(const std::u16string& name, const std::vector<uint8_t>& bytes) : name_(name) {
    personality::UniqueFile file = personality::OpenFileUtf16(name_.c_str(), "wb");
    if (!file) {
        return;
    }
    size_t put = bytes.empty() ? 0 : fwrite(bytes.data(), 1, bytes.size(), file.get());
    written_ = put == bytes.size() && fclose(file.release()) == 0;
}

TempFile::~TempFile() {
    personality::RemoveFileUtf16(name_.c_str());
}

}  // namespace testini
