// Stored form of the agent's configuration files: RC4 with the 7-byte key rule, byte-order
// marks, classification of an attached file and line cutting. Portable: no <windows.h>.
// Both file readers (CCryptFileReader, CCryptFileHelper) embed their own TextDecoder, so
// they share the rules and no state.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cryptfile {

// The one fixed key text of every enciphered file of the agent.
constexpr const char kKeyText[] = "0x7c41a9e3";
// Only this many bytes of a key text take part in the key schedule.
constexpr size_t kMaxKeyBytes = 7;

enum TextEncoding : int32_t {
    EncodingNone = 0,
    EncodingUtf8 = 1,
    EncodingUtf16LE = 2,
    EncodingUtf32LE = 3,
    EncodingUtf16BE = 4,
    EncodingUtf32BE = 5,
    EncodingAnsi = 6,
};

struct Rc4State {
    int32_t i = 0;
    int32_t j = 0;
    uint8_t s[256] = {};
};

// Keys the state; keyLen is capped at kMaxKeyBytes, an empty key acts as one zero byte.
void Rc4Init(Rc4State& state, const uint8_t* key, size_t keyLen);
uint8_t Rc4NextByte(Rc4State& state);

// Code 0..5 of the byte-order mark at the start of a sample of n bytes.
int32_t DetectByteOrderMark(const uint8_t* sample, size_t n);

// Where the decoder reads the stored bytes from: a FILE* on Windows, memory in tests.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Next stored byte (0..255), or -1 at end of data or on a read error.
    virtual int ReadByte() = 0;
    // Back to the first byte; false when the source cannot rewind.
    virtual bool Rewind() = 0;
};

class TextDecoder {
public:
    // Classifies the source (keyText: zero-terminated), rewinds it, keys the cipher afresh
    // when enciphered and skips the byte-order mark. A null source leaves the decoder detached.
    void Attach(ByteSource* source, const char* keyText);
    void Detach();

    int32_t encoding() const;
    bool encrypted() const;

    // Next stored byte, deciphered when the file is enciphered; -1 at end.
    int DecodeByte();
    void SkipBytes(int32_t count);

    // One line (or its next piece) as bytes / as UTF-16 units, zero-terminated; null at end
    // of file, or when the capacity cannot hold a single character.
    char* ReadLineUtf8(char* buffer, int32_t capacity);
    char16_t* ReadLineUtf16(char16_t* buffer, uint32_t capacity);
};

}  // namespace cryptfile
