// Text from logs made safe for the report's outputs. Logs can hold any bytes, so every output
// first replaces what is not well-formed UTF-8 (each bad byte becomes U+FFFD).
#pragma once

#include <string>
#include <string_view>

namespace report {

std::string validUtf8(std::string_view text);

// The same, with each bad byte shown as \xFF instead, so that a name can still be told apart.
std::string escapedUtf8(std::string_view text);

// The contents of a JSON string (without the quotes).
std::string jsonEscape(std::string_view text);

// One CSV field, quoted when it must be (RFC 4180); one that begins like a formula (=, +, -,
// @, tab, CR) gets a leading apostrophe so that no spreadsheet evaluates it.
std::string csvField(std::string_view text);

// Text for HTML content and attribute values.
std::string htmlEscape(std::string_view text);

// Text for a terminal: control characters shown as '?'.
std::string terminalText(std::string_view text);

}  // namespace report
