// Text made safe for machine-readable outputs, shared by the tool's preflight and the fleet
// report. Logs and host names can hold any bytes, so every output first replaces what is not
// well-formed UTF-8 (each bad byte becomes U+FFFD). Portable: no <windows.h>.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace text {

std::string validUtf8(std::string_view text);

// The same, with each bad byte shown as \xFF instead, so that a name can still be told apart.
std::string escapedUtf8(std::string_view text);

// Appends one code point (at most U+10FFFF, no surrogate) in UTF-8.
void appendUtf8(std::string& out, uint32_t codePoint);

// The contents of a JSON string (without the quotes).
std::string jsonEscape(std::string_view text);

}  // namespace text
