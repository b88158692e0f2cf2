// Deciphering and line cutting of one attached file. Portable: no <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "cryptfile/byte_source.h"
#include "cryptfile/classification.h"
#include "cryptfile/rc4.h"

namespace cryptfile {

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
    // Files read as bytes: the rest of the text as whole lines with CR LF ends, into out
    // (capacity at least 2): the bytes as ReadLineUtf8 hands them out, carriage returns removed,
    // each line feed written as a carriage return and a line feed. One call per block instead of
    // one per line, for deciphering a whole file. Returns the bytes written; 0 at the end.
    size_t ReadCrLfText(uint8_t* out, size_t capacity);

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
