// RC4, as the agent enciphers its configuration files. Portable: no <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cryptfile {

// Only this many bytes of a key text take part in the key schedule.
constexpr size_t kMaxKeyBytes = 7;

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

}  // namespace cryptfile
