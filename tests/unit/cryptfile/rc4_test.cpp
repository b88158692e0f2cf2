// RC4 against published vectors and the key rule of the agent's files.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "cryptfile/text_format.h"

namespace {

using cryptfile::Rc4Init;
using cryptfile::Rc4NextByte;
using cryptfile::Rc4State;

std::vector<uint8_t> Keystream(const void* key, size_t keyLen, size_t n) {
    Rc4State state;
    Rc4Init(state, static_cast<const uint8_t*>(key), keyLen);
    std::vector<uint8_t> out(n);
    for (uint8_t& b : out)
        b = Rc4NextByte(state);
    return out;
}

std::vector<uint8_t> At(const std::vector<uint8_t>& ks, size_t offset, size_t n) {
    return std::vector<uint8_t>(ks.begin() + static_cast<std::ptrdiff_t>(offset),
                                ks.begin() + static_cast<std::ptrdiff_t>(offset + n));
}

// RFC 6229, key length 40 bits, key 0x0102030405.
TEST(Rc4, Rfc6229Key40Bits) {
    const uint8_t key[] = {0x01, 0x02, 0x03, 0x04, 0x05};
    const auto ks = Keystream(key, sizeof(key), 4112);
    EXPECT_EQ(At(ks, 0, 16),
              (std::vector<uint8_t>{0xb2, 0x39, 0x63, 0x05, 0xf0, 0x3d, 0xc0, 0x27, 0xcc, 0xc3,
                                    0x52, 0x4a, 0x0a, 0x11, 0x18, 0xa8}));
    EXPECT_EQ(At(ks, 16, 16),
              (std::vector<uint8_t>{0x69, 0x82, 0x94, 0x4f, 0x18, 0xfc, 0x82, 0xd5, 0x89, 0xc4,
                                    0x03, 0xa4, 0x7a, 0x0d, 0x09, 0x19}));
    EXPECT_EQ(At(ks, 240, 16),
              (std::vector<uint8_t>{0x28, 0xcb, 0x11, 0x32, 0xc9, 0x6c, 0xe2, 0x86, 0x42, 0x1d,
                                    0xca, 0xad, 0xb8, 0xb6, 0x9e, 0xae}));
    EXPECT_EQ(At(ks, 256, 16),
              (std::vector<uint8_t>{0x1c, 0xfc, 0xf6, 0x2b, 0x03, 0xed, 0xdb, 0x64, 0x1d, 0x77,
                                    0xdf, 0xcf, 0x7f, 0x8d, 0x8c, 0x93}));
    EXPECT_EQ(At(ks, 4096, 16),
              (std::vector<uint8_t>{0xff, 0x25, 0xb5, 0x89, 0x95, 0x99, 0x67, 0x07, 0xe5, 0x1f,
                                    0xbd, 0xf0, 0x8b, 0x34, 0xd8, 0x75}));
}

// RFC 6229, key length 56 bits, key 0x01020304050607: the longest key the agent's rule keeps.
TEST(Rc4, Rfc6229Key56Bits) {
    const uint8_t key[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07};
    const auto ks = Keystream(key, sizeof(key), 32);
    EXPECT_EQ(At(ks, 0, 16),
              (std::vector<uint8_t>{0x29, 0x3f, 0x02, 0xd4, 0x7f, 0x37, 0xc9, 0xb6, 0x33, 0xf2,
                                    0xaf, 0x52, 0x85, 0xfe, 0xb4, 0x6b}));
    EXPECT_EQ(At(ks, 16, 16),
              (std::vector<uint8_t>{0xe6, 0x20, 0xf1, 0x39, 0x0d, 0x19, 0xbd, 0x84, 0xe2, 0xe0,
                                    0xfd, 0x75, 0x20, 0x31, 0xaf, 0xc1}));
}

TEST(Rc4, KeyIsCappedAtSevenBytes) {
    // RFC 6229's 64-bit key 0x0102030405060708 gives the 56-bit key's stream under the cap.
    const uint8_t key8[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    const uint8_t key7[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07};
    EXPECT_EQ(Keystream(key8, sizeof(key8), 64), Keystream(key7, sizeof(key7), 64));

    // The fixed key text "0x7c41a9e3" is keyed as its first 7 bytes "0x7c41a".
    const auto full = Keystream(cryptfile::kKeyText, std::strlen(cryptfile::kKeyText), 16);
    EXPECT_EQ(full, Keystream("0x7c41a", 7, 16));
    EXPECT_EQ(full, (std::vector<uint8_t>{0x57, 0x9f, 0x12, 0x07, 0xa7, 0x2d, 0x8e, 0xd9, 0xee,
                                          0x23, 0x05, 0xaf, 0xec, 0x44, 0xb3, 0xaa}));
    // Six bytes are used whole: they differ from the seven-byte stream.
    EXPECT_NE(Keystream("0x7c41", 6, 16), full);
}

TEST(Rc4, EmptyKeyActsAsOneZeroByte) {
    const uint8_t zero = 0;
    const auto expected = std::vector<uint8_t>{0xde, 0x18, 0x89, 0x41, 0xa3, 0x37, 0x5d, 0x3a,
                                               0x8a, 0x06, 0x1e, 0x67, 0x57, 0x6e, 0x92, 0x6d};
    EXPECT_EQ(Keystream(&zero, 1, 16), expected);
    EXPECT_EQ(Keystream("", 0, 16), expected);
    EXPECT_EQ(Keystream(nullptr, 0, 16), expected);
}

TEST(Rc4, ApplyMatchesNextByteAndKeysAfresh) {
    Rc4State a;
    Rc4State b;
    Rc4Init(a, reinterpret_cast<const uint8_t*>("key"), 3);
    Rc4Init(b, reinterpret_cast<const uint8_t*>("key"), 3);
    std::vector<uint8_t> data(1000, 0x5A);
    cryptfile::Rc4Apply(a, data.data(), 400);
    cryptfile::Rc4Apply(a, data.data() + 400, 600);
    for (uint8_t x : data)
        ASSERT_EQ(x, uint8_t(0x5A ^ Rc4NextByte(b)));
    // Keying again restarts the stream at its first byte.
    Rc4Init(a, reinterpret_cast<const uint8_t*>("key"), 3);
    EXPECT_EQ(Rc4NextByte(a), uint8_t(data[0] ^ 0x5A));
}

}  // namespace
