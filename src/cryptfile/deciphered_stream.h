// The stored bytes of one attached file, deciphered, a block at a time. Portable: no <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "cryptfile/byte_source.h"
#include "cryptfile/classification.h"
#include "cryptfile/rc4.h"

namespace cryptfile {

// Classifies an attached ByteSource, reads it in blocks, deciphers each block byte by byte in
// file order as it arrives, and hands out its bytes one at a time or, to the line cutting of
// TextDecoder, straight from the block. Bytes taken out can be given back.
class DecipheredStream {
  public:
    DecipheredStream();
    ~DecipheredStream();
    DecipheredStream(const DecipheredStream&) = delete;
    DecipheredStream& operator=(const DecipheredStream&) = delete;

    // Classifies the source (keyText: zero-terminated), rewinds it, keys the cipher afresh
    // when enciphered and skips the byte-order mark. A null source leaves the stream detached.
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

  protected:
    // Reads and deciphers the next block into block_; false when nothing more came.
    bool Refill();
    // Gives a byte back (a unit: its two bytes, low first); the next DecodeByte returns it.
    void PushBack(uint8_t byte);
    void PushBackUnit(char16_t unit);

    int32_t encoding_ = EncodingNone;

    // Deciphered bytes read from the source and not yet handed out: block_[pos_, len_). The
    // block is smallBlock_ until a file fills it, then one heap block kept for the stream's life.
    uint8_t* block_;
    size_t pos_ = 0;
    size_t len_ = 0;

    // Deciphered bytes taken out and given back (a character that did not fit), last one first.
    uint8_t back_[16] = {};
    size_t backLen_ = 0;

  private:
    ByteSource* source_ = nullptr;
    bool encrypted_ = false;
    bool sourceDone_ = false;
    bool error_ = false;
    uint8_t key_[kMaxKeyBytes] = {};
    size_t keyLen_ = 0;
    Rc4State cipher_;

    uint8_t smallBlock_[512] = {};
    std::unique_ptr<uint8_t[]> blockStore_;
    size_t blockCap_;
};

}  // namespace cryptfile
