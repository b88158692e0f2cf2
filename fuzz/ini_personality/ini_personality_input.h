// One fuzz input through the personality reader: the bytes as a stored file (and again
// enciphered), the personality fields parsed from the result, and the list parsers on the
// raw text. Checks the reader's invariants and aborts when one breaks.
#pragma once

#include <cstddef>
#include <cstdint>

namespace inifuzz {

// Always returns 0; aborts on a broken invariant.
int RunIniPersonalityInput(const uint8_t* data, size_t size);

}  // namespace inifuzz
