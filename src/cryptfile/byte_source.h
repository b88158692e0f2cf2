// Where the decoder reads the stored bytes from. Portable: no <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cryptfile {

// A FILE* on Windows, memory in tests.
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

}  // namespace cryptfile
