// How the report shows codes, shares and the guide's Markdown to people.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace report {

// "1053 ERROR_SERVICE_REQUEST_TIMEOUT: The service did not ...", or the code alone when the
// table does not know it.
std::string codeText(int64_t code);

// A share as the outputs show it: "12.5%" (0.0% of nothing).
std::string percent(size_t part, size_t whole);

// Text of the guide's Markdown for a terminal or a page: `code` spans and [text](link) become
// their text.
std::string plainText(const char* markdown);

}  // namespace report
