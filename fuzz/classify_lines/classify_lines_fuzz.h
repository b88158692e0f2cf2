// One input through classification and every line cutter (shared by the fuzz target and the
// seed replay test).
#pragma once

#include <cstddef>
#include <cstdint>

// Input: a mode byte (how the rest becomes a stored file: as is, enciphered, enciphered after a
// UTF-8 mark, plain after a UTF-8 mark, or a file read as 16-bit units), a capacity byte, and the
// text. Aborts when the decoder breaks one of its rules.
int ClassifyLinesFuzzOne(const uint8_t* data, size_t size);
