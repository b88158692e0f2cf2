// Helpers of the cryptfile tests: enciphering test files (RC4 is symmetric) and reading a
// decoder out the way the file readers do.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "cryptfile/text_format.h"
#include "stored_form.h"

namespace cryptfile_test {

using Bytes = std::vector<uint8_t>;

inline Bytes ToBytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

inline std::string ToString(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

// The stored form of a plain text under a key text.
inline Bytes Encipher(const Bytes& plain, const char* keyText = cryptfile::kKeyText) {
    return testsupport::encipher(plain, keyText);
}

// UTF-16LE bytes of a text of units.
inline Bytes Utf16LeBytes(const std::u16string& text) {
    Bytes out;
    for (char16_t u : text) {
        out.push_back(static_cast<uint8_t>(u & 0xFF));
        out.push_back(static_cast<uint8_t>(u >> 8));
    }
    return out;
}

// Lines as NextLine hands them out: the buffer starts at initialCapacity bytes and doubles while
// a line does not end in a line feed; every line gets a final line feed.
inline std::vector<std::string> NextLines(cryptfile::TextDecoder& decoder,
                                          int32_t initialCapacity = 12,
                                          size_t maxLines = 100000) {
    std::vector<std::string> lines;
    std::vector<char> buffer(static_cast<size_t>(initialCapacity));
    while (lines.size() < maxLines) {
        if (!decoder.ReadLineUtf8(buffer.data(), static_cast<int32_t>(buffer.size())))
            break;
        size_t len = std::strlen(buffer.data());
        while (len > 0 && buffer[len - 1] != '\n') {
            std::vector<char> grown(buffer.size() * 2);
            std::memcpy(grown.data(), buffer.data(), len + 1);
            buffer.swap(grown);
            if (!decoder.ReadLineUtf8(buffer.data() + len,
                                      static_cast<int32_t>(buffer.size() - len)))
                break;
            len = std::strlen(buffer.data());
        }
        std::string line(buffer.data(), len);
        if (line.empty() || line.back() != '\n')
            line.push_back('\n');
        lines.push_back(line);
    }
    return lines;
}

// Lines as NextWideLine hands them out (buffer from initialCapacity units, doubling).
inline std::vector<std::u16string> NextWideLines(cryptfile::TextDecoder& decoder,
                                                 uint32_t initialCapacity = 4,
                                                 size_t maxLines = 100000) {
    std::vector<std::u16string> lines;
    std::vector<char16_t> buffer(initialCapacity);
    auto length = [&buffer]() {
        size_t n = 0;
        while (buffer[n] != 0)
            ++n;
        return n;
    };
    while (lines.size() < maxLines) {
        if (!decoder.ReadLineUtf16(buffer.data(), static_cast<uint32_t>(buffer.size())))
            break;
        size_t len = length();
        while (len > 0 && buffer[len - 1] != u'\n') {
            std::vector<char16_t> grown(buffer.size() * 2);
            std::copy(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(len + 1),
                      grown.begin());
            buffer.swap(grown);
            if (!decoder.ReadLineUtf16(buffer.data() + len,
                                       static_cast<uint32_t>(buffer.size() - len)))
                break;
            len = length();
        }
        std::u16string line(buffer.data(), len);
        if (line.empty() || line.back() != u'\n')
            line.push_back(u'\n');
        lines.push_back(line);
    }
    return lines;
}

// Every piece ReadLineUtf8 returns at one fixed capacity, until null (bounded).
inline std::vector<std::string> Utf8Pieces(cryptfile::TextDecoder& decoder,
                                           int32_t capacity,
                                           size_t most = 100000) {
    std::vector<std::string> pieces;
    std::vector<char> buffer(capacity > 0 ? static_cast<size_t>(capacity) : 1);
    while (pieces.size() < most && decoder.ReadLineUtf8(buffer.data(), capacity))
        pieces.emplace_back(buffer.data());
    return pieces;
}

inline std::vector<std::u16string> Utf16Pieces(cryptfile::TextDecoder& decoder,
                                               uint32_t capacity,
                                               size_t most = 100000) {
    std::vector<std::u16string> pieces;
    std::vector<char16_t> buffer(capacity > 0 ? capacity : 1);
    while (pieces.size() < most && decoder.ReadLineUtf16(buffer.data(), capacity))
        pieces.emplace_back(buffer.data());
    return pieces;
}

}  // namespace cryptfile_test
