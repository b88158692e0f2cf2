// The agent's stored form of a text, for tests only (the tool never writes one): every byte
// combined with the RC4 keystream of a key text, the fixed key text unless told otherwise.
#pragma once

#include <cstdint>
#include <cstring>

#include "cryptfile/text_format.h"

namespace testsupport {

template <typename Bytes>
Bytes encipher(Bytes plain, const char* keyText = cryptfile::kKeyText) {
    cryptfile::Rc4State state;
    cryptfile::Rc4Init(state, reinterpret_cast<const uint8_t*>(keyText), std::strlen(keyText));
    for (auto& b : plain) {
        b = static_cast<typename Bytes::value_type>(static_cast<uint8_t>(b) ^
                                                    cryptfile::Rc4NextByte(state));
    }
    return plain;
}

}  // namespace testsupport
