// Existence test by attributes, the rule the start-up and the local UI step share.
#pragma once

#include <string>

// True when the path's attributes can be read, or reading them fails for any reason other
// than file not found (2), path not found (3) or invalid name (123). A path longer than 260
// characters is refused: false.
bool fileExists(const std::wstring& path);
