// Text from logs made safe for the report's outputs. Logs can hold any bytes, so every output
// first replaces what is not well-formed UTF-8 (each bad byte becomes U+FFFD).
#pragma once

#include <string>
#include <string_view>

#include "text/utf8_text.h"

namespace report {

using text::escapedUtf8;
using text::jsonEscape;
using text::validUtf8;

// One CSV field, quoted when it must be (RFC 4180); one that begins like a formula (=, +, -,
// @, tab, CR) gets a leading apostrophe so that no spreadsheet evaluates it.
std::string csvField(std::string_view text);

// Text for HTML content and attribute values.
std::string htmlEscape(std::string_view text);

// Text for a terminal: control characters shown as '?'.
std::string terminalText(std::string_view text);

}  // namespace report
