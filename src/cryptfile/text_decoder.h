// Line cutting of one attached file, deciphered. Portable: no <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cryptfile/deciphered_stream.h"

namespace cryptfile {

// Cuts the text of one attached ByteSource into lines, as bytes or as UTF-16 units. It is a
// DecipheredStream (Attach, Detach and the byte reads come from there), so lines are cut straight
// from the deciphered block, without a heap allocation per line.
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
class TextDecoder : public DecipheredStream {
  public:
    TextDecoder();
    ~TextDecoder();
    TextDecoder(const TextDecoder&) = delete;
    TextDecoder& operator=(const TextDecoder&) = delete;

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
    // Next byte of the line being read (carriage returns skipped) or -1 at end of the source.
    int NextTextByte();
    // Next unit of the line being read (carriage-return units skipped), -1 at end of the source;
    // sawOddByte is set when a lone last byte was dropped.
    int32_t NextTextUnit(bool& sawOddByte);

    char* BytesToBytes(char* buffer, int32_t capacity);
    char16_t* UnitsToUnits(char16_t* buffer, uint32_t capacity);
    char* UnitsToBytes(char* buffer, int32_t capacity);
    char16_t* BytesToUnits(char16_t* buffer, uint32_t capacity);
};

}  // namespace cryptfile
