// Stored form of the agent's configuration files: RC4 with the 7-byte key rule, byte-order
// marks, classification of an attached file and line cutting. Portable: no <windows.h>.
// Both file readers (CCryptFileReader, CCryptFileHelper) embed their own TextDecoder, so
// they share the rules and no state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace cryptfile {

// The one fixed key text of every enciphered file of the agent.
constexpr const char kKeyText[] = "0x7c41a9e3";
// Only this many bytes of a key text take part in the key schedule.
constexpr size_t kMaxKeyBytes = 7;
// Classification judges a file by this many bytes from its start.
constexpr size_t kSampleBytes = 16;

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
// XORs n bytes in place with the next n keystream bytes, in order.
void Rc4Apply(Rc4State& state, uint8_t* data, size_t n);

// Code 0..5 of the byte-order mark at the start of a sample of n bytes.
int32_t DetectByteOrderMark(const uint8_t* sample, size_t n);

// Length of the byte-order mark that an attached file of this code starts with (0, 2, 3 or 4).
size_t ByteOrderMarkLength(int32_t encoding);

// True for the codes whose text is cut into lines as bytes (1 and 6); the others as 16-bit units.
bool ReadsAsBytes(int32_t encoding);

// The strict test: the bytes after the 3-byte mark, up to the first zero byte, convert to
// exactly n - 3 UTF-16 units. ASCII text without zero bytes passes, and so do stray bytes that
// the conversion replaces one by one; a zero byte or a well-formed multi-byte character fails.
bool IsAsciiCleanAfterMark(const uint8_t* sample, size_t n);

// The test classification applies after a UTF-8 mark: what the strict test accepts, and also
// text without zero bytes that is well-formed UTF-8, where a character cut by the end of a full
// kSampleBytes sample passes. So a UTF-8 text whose first characters are not ASCII is settled
// as UTF-8 instead of being judged by the cipher.
bool IsUtf8CleanAfterMark(const uint8_t* sample, size_t n);

struct Classification {
    int32_t encoding = EncodingNone;
    bool encrypted = false;
};

// Judges a file by its first n stored bytes (n at most kSampleBytes; keyText zero-terminated,
// null acts as empty): tries the cipher on the sample, looks for byte-order marks and decides
// as TextDecoder::Attach does.
Classification ClassifySample(const uint8_t* sample, size_t n, const char* keyText);

// Where the decoder reads the stored bytes from: a FILE* on Windows, memory in tests.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // Next stored byte (0..255), or -1 at end of data or on a read error.
    virtual int ReadByte() = 0;
    // Back to the first byte; false when the source cannot rewind.
    virtual bool Rewind() = 0;
    // Up to n next bytes into buf; returns how many. Fewer than n only at the end of the data or
    // on a read error. The default calls ReadByte for each byte; a stream overrides it with one
    // block read, which is what keeps the decoder fast.
    virtual size_t Read(uint8_t* buf, size_t n);
    // True once a read has failed for a cause other than the end of the data.
    virtual bool ReadFailed() const { return false; }
};

// A ByteSource over bytes in memory that it does not own.
class MemoryByteSource : public ByteSource {
  public:
    MemoryByteSource(const void* data, size_t size)
        : data_(static_cast<const uint8_t*>(data)), size_(size) {}
    int ReadByte() override;
    bool Rewind() override;
    size_t Read(uint8_t* buf, size_t n) override;

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// Deciphers (when needed) and cuts the text of one attached ByteSource. It reads the source in
// blocks, deciphers each block byte by byte in file order as it arrives, and hands out bytes
// and lines from it without a heap allocation per line.
//
// Line cutting, per call:
// - Files read as bytes (codes 1, 6), ReadLineUtf8: bytes as stored (deciphered), carriage
//   returns removed, the line feed kept; no byte is taken at position capacity - 3 or later, so a
//   long line comes in pieces of capacity - 3 bytes. Needs capacity >= 4.
// - Files read as 16-bit units (codes 0, 2..5), ReadLineUtf16: two bytes in file order make one
//   unit, low byte first; carriage-return units removed, the line-feed unit kept; a long line
//   comes in pieces of capacity - 1 units. Needs capacity >= 2. A lone last byte is dropped.
// - Files read as 16-bit units, ReadLineUtf8: the units of the line are converted to UTF-8 as
//   WideCharToMultiByte would convert the whole line (a surrogate pair is one character, any other
//   surrogate U+FFFD). A piece holds whole characters only: the character that does not fit is
//   kept for the next call, so a caller that grows its buffer while the line does not end in a
//   line feed (NextLine) gets exactly the UTF-8 form of the whole line. Needs room for the next
//   character (1 to 4 bytes) and the terminator.
// - Files read as bytes, ReadLineUtf16: the bytes of the line, carriage returns removed, are
//   converted as MultiByteToWideChar would convert the whole line's text before its line feed;
//   the line feed follows as its own unit, so it always ends the line. Pieces hold whole
//   characters (a pair is never split), the rest waits for the next call as above. Needs room
//   for the next character (1 or 2 units) and the terminator.
// Every reader returns null at the end of the source when it read nothing in that call, and
// null without reading anything when the capacity cannot hold the next character; it never
// writes at or beyond buffer[capacity].
class TextDecoder {
  public:
    TextDecoder();
    ~TextDecoder();
    TextDecoder(const TextDecoder&) = delete;
    TextDecoder& operator=(const TextDecoder&) = delete;

    // Classifies the source (keyText: zero-terminated), rewinds it, keys the cipher afresh
    // when enciphered and skips the byte-order mark. A null source leaves the decoder detached.
    // A source that cannot rewind is not read twice: the sample already read is replayed.
    void Attach(ByteSource* source, const char* keyText);
    void Detach();

    int32_t encoding() const;
    bool encrypted() const;
    // True when reading stopped for a cause other than the end of the source (the source
    // reported a read error). Cleared by Attach and Detach.
    bool error() const;

    // Next stored byte, deciphered when the file is enciphered; -1 at end.
    int DecodeByte();
    void SkipBytes(int32_t count);

    // One line (or its next piece) as bytes / as UTF-16 units, zero-terminated; null at end
    // of file, or when the capacity cannot hold a single character.
    char* ReadLineUtf8(char* buffer, int32_t capacity);
    char16_t* ReadLineUtf16(char16_t* buffer, uint32_t capacity);

  private:
    bool Refill();
    // Next byte of the line being read (carriage returns skipped) or -1 at end of the source.
    int NextTextByte();
    // Next unit of the line being read (carriage-return units skipped), -1 at end of the source;
    // sawOddByte is set when a lone last byte was dropped.
    int32_t NextTextUnit(bool& sawOddByte);
    void PushBack(uint8_t byte);
    void PushBackUnit(char16_t unit);

    char* BytesToBytes(char* buffer, int32_t capacity);
    char16_t* UnitsToUnits(char16_t* buffer, uint32_t capacity);
    char* UnitsToBytes(char* buffer, int32_t capacity);
    char16_t* BytesToUnits(char16_t* buffer, uint32_t capacity);

    ByteSource* source_ = nullptr;
    int32_t encoding_ = EncodingNone;
    bool encrypted_ = false;
    bool sourceDone_ = false;
    bool error_ = false;
    uint8_t key_[kMaxKeyBytes] = {};
    size_t keyLen_ = 0;
    Rc4State cipher_;

    // Deciphered bytes read from the source and not yet handed out: block_[pos_, len_). The
    // block is smallBlock_ until a file fills it, then one heap block kept for the decoder's life.
    uint8_t smallBlock_[512] = {};
    std::unique_ptr<uint8_t[]> blockStore_;
    uint8_t* block_;
    size_t blockCap_;
    size_t pos_ = 0;
    size_t len_ = 0;

    // Deciphered bytes taken out and given back (a character that did not fit), last one first.
    uint8_t back_[16] = {};
    size_t backLen_ = 0;
};

}  // namespace cryptfile
