#include "cryptfile/rc4.h"

#include <cstring>

namespace cryptfile {

void Rc4Init(Rc4State& state, const uint8_t* key, size_t keyLen) {
    static const uint8_t kZeroKey[1] = {0};
    if (!key || keyLen == 0) {
        key = kZeroKey;
        keyLen = 1;
    }
    if (keyLen > kMaxKeyBytes)
        keyLen = kMaxKeyBytes;
    for (int x = 0; x < 256; ++x)
        state.s[x] = static_cast<uint8_t>(x);
    uint8_t j = 0;
    size_t p = 0;
    for (int i = 0; i < 256; ++i) {
        j = static_cast<uint8_t>(j + state.s[i] + key[p]);
        const uint8_t t = state.s[i];
        state.s[i] = state.s[j];
        state.s[j] = t;
        if (++p == keyLen)
            p = 0;
    }
    state.i = 0;
    state.j = 0;
}

uint8_t Rc4NextByte(Rc4State& state) {
    const uint8_t i = static_cast<uint8_t>(state.i + 1);
    const uint8_t j = static_cast<uint8_t>(state.j + state.s[i]);
    const uint8_t t = state.s[i];
    state.s[i] = state.s[j];
    state.s[j] = t;
    state.i = i;
    state.j = j;
    return state.s[static_cast<uint8_t>(state.s[i] + t)];
}

// Works on a local copy of the permutation and XORs four keystream bytes as one word: the
// compiler then knows that data never overlaps the permutation, which more than doubles the
// speed of 32-bit builds. The bytes are still combined one by one, in order.
void Rc4Apply(Rc4State& state, uint8_t* data, size_t n) {
    uint8_t s[256];
    std::memcpy(s, state.s, sizeof(s));
    unsigned i = static_cast<uint8_t>(state.i);
    unsigned j = static_cast<uint8_t>(state.j);
    auto next = [&s, &i, &j]() -> unsigned {
        i = (i + 1) & 0xFF;
        const unsigned si = s[i];
        j = (j + si) & 0xFF;
        const unsigned sj = s[j];
        s[i] = static_cast<uint8_t>(sj);
        s[j] = static_cast<uint8_t>(si);
        return s[(si + sj) & 0xFF];
    };
    size_t k = 0;
    for (; k + 4 <= n; k += 4) {
        uint32_t word;
        std::memcpy(&word, data + k, 4);
        const uint8_t ks[4] = {static_cast<uint8_t>(next()), static_cast<uint8_t>(next()),
                               static_cast<uint8_t>(next()), static_cast<uint8_t>(next())};
        uint32_t stream;
        std::memcpy(&stream, ks, 4);
        word ^= stream;
        std::memcpy(data + k, &word, 4);
    }
    for (; k < n; ++k)
        data[k] ^= static_cast<uint8_t>(next());
    std::memcpy(state.s, s, sizeof(s));
    state.i = static_cast<int32_t>(i);
    state.j = static_cast<int32_t>(j);
}

}  // namespace cryptfile
