// Test helpers: feeding INI text to a reader line by line, and making stored files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cryptfile/text_format.h"
#include "personality/crypt_file_helper.h"

namespace testini {

// Cuts text at line feeds and hands every line (with its line feed) to ParseLine, as a load
// does after the decoder has cut the lines.
void ParseText(CCryptFileHelper& reader, const std::u16string& text);

// The value of a lookup, or "<missing>" when GetString finds nothing.
std::u16string Lookup(const CCryptFileHelper& reader,
                      const std::u16string& section,
                      const std::u16string& key);

std::vector<uint8_t> Utf8Bytes(const std::u16string& text);
std::vector<uint8_t> Utf16LeBytes(const std::u16string& text);
std::vector<uint8_t> WithUtf8Mark(const std::vector<uint8_t>& bytes);

// The first n bytes of the keystream of the fixed key text.
std::vector<uint8_t> Keystream(size_t n);
// Stored form: every byte combined with the keystream of the fixed key text.
std::vector<uint8_t> Encipher(const std::vector<uint8_t>& plain);

// A file in the current folder, written at construction and deleted at destruction.
class TempFile {
  public:
    TempFile(const std::u16string& name, const std::vector<uint8_t>& bytes);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const char16_t* path() const { return name_.c_str(); }
    // True when the whole content was written and the file closed.
    bool written() const { return written_; }

  private:
    std::u16string name_;
    bool written_ = false;
};

}  // namespace testini
