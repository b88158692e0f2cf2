// The UTF-16 form of the UTF-8 paths that CCryptFileReader::Open and DecryptFileToFile are given:
// one rule for both, so that neither acts on a path the other would refuse. Windows only.
#pragma once

#include <cstddef>
#include <string>

namespace cryptfile {

// Units a path may hold without its terminator; longer paths are refused, never cut. Here, below
// the reader, so that the conversion needs nothing of the reader (CCryptFileReader::kMaxPathUnits).
constexpr size_t kMaxPathUnits = 260;

// Converts a zero-terminated UTF-8 path; false for a null path or one too long to be used whole
// (its UTF-16 form longer than kMaxPathUnits): a path is refused, never cut.
bool WidePath(const char* utf8, std::wstring& wide);

}  // namespace cryptfile
