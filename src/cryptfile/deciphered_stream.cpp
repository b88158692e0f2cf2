#include "cryptfile/deciphered_stream.h"

#include <cstring>
#include <new>

namespace cryptfile {
namespace {

// Bytes read from the source per block; large enough that a block read costs little per byte.
constexpr size_t kBlockBytes = 64 * 1024;

}  // namespace

DecipheredStream::DecipheredStream() : block_(smallBlock_), blockCap_(sizeof(smallBlock_)) {}
DecipheredStream::~DecipheredStream() = default;

void DecipheredStream::Detach() {
    source_ = nullptr;
    encoding_ = EncodingNone;
    encrypted_ = false;
    sourceDone_ = false;
    error_ = false;
    keyLen_ = 0;
    pos_ = len_ = 0;
    backLen_ = 0;
}

void DecipheredStream::Attach(ByteSource* source, const char* keyText) {
    Detach();
    if (!source)
        return;
    source_ = source;
    keyLen_ = CopyKey(keyText, key_);

    // The sample is the start of the file, wherever an earlier reader left the source.
    source->Rewind();
    uint8_t sample[kSampleBytes];
    const size_t n = source->Read(sample, kSampleBytes);
    if (source->ReadFailed())
        error_ = true;
    const Classification c = ClassifyWithKey(sample, n, key_, keyLen_);
    encoding_ = c.encoding;
    encrypted_ = c.encrypted;

    if (!source->Rewind()) {
        // Not read twice: what the sample holds is handed out first, then the rest.
        std::memcpy(block_, sample, n);
        len_ = n;
        sourceDone_ = n < kSampleBytes;
    }
    if (encrypted_) {
        Rc4Init(cipher_, key_, keyLen_);
        Rc4Apply(cipher_, block_, len_);
    }
    SkipBytes(static_cast<int32_t>(ByteOrderMarkLength(encoding_)));
}

int32_t DecipheredStream::encoding() const {
    return encoding_;
}
bool DecipheredStream::encrypted() const {
    return encrypted_;
}
bool DecipheredStream::error() const {
    return error_;
}

bool DecipheredStream::Refill() {
    if (!source_ || sourceDone_)
        return false;
    // A file that fills the inline block gets the large one; small files never allocate.
    if (block_ == smallBlock_ && len_ == blockCap_) {
        blockStore_.reset(new (std::nothrow) uint8_t[kBlockBytes]);
        if (blockStore_) {
            block_ = blockStore_.get();
            blockCap_ = kBlockBytes;
        }
    }
    const size_t n = source_->Read(block_, blockCap_);
    if (n < blockCap_) {
        sourceDone_ = true;
        if (source_->ReadFailed())
            error_ = true;
    }
    if (encrypted_)
        Rc4Apply(cipher_, block_, n);
    pos_ = 0;
    len_ = n;
    return n > 0;
}

int DecipheredStream::DecodeByte() {
    if (backLen_)
        return back_[--backLen_];
    if (pos_ == len_ && !Refill())
        return -1;
    return block_[pos_++];
}

void DecipheredStream::SkipBytes(int32_t count) {
    for (int32_t k = 0; k < count; ++k) {
        if (DecodeByte() < 0)
            break;
    }
}

void DecipheredStream::PushBack(uint8_t byte) {
    // Never more than one character (and a line feed) is given back between two reads.
    if (backLen_ < sizeof(back_))
        back_[backLen_++] = byte;
    else
        error_ = true;
}

void DecipheredStream::PushBackUnit(char16_t unit) {
    PushBack(static_cast<uint8_t>(unit >> 8));
    PushBack(static_cast<uint8_t>(unit & 0xFF));
}

}  // namespace cryptfile
