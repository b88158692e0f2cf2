#include "cryptfile/byte_source.h"

#include <cstring>

namespace cryptfile {

size_t ByteSource::Read(uint8_t* buf, size_t n) {
    size_t got = 0;
    while (got < n) {
        const int c = ReadByte();
        if (c < 0)
            break;
        buf[got++] = static_cast<uint8_t>(c);
    }
    return got;
}

int MemoryByteSource::ReadByte() {
    return pos_ < size_ ? data_[pos_++] : -1;
}

bool MemoryByteSource::Rewind() {
    pos_ = 0;
    return true;
}

size_t MemoryByteSource::Read(uint8_t* buf, size_t n) {
    const size_t avail = size_ - pos_;
    if (n > avail)
        n = avail;
    if (n)
        std::memcpy(buf, data_ + pos_, n);
    pos_ += n;
    return n;
}

}  // namespace cryptfile
