// The two host queries of the start-up that later steps reuse.
#pragma once

#include <string>

// True when the path's attributes can be read, or reading them fails for any reason other
// than file not found (2), path not found (3) or invalid name (123). A path longer than 260
// characters is refused: false.
bool fileExists(const std::wstring& path);

// The product installation folder, looked up once per process with the edition and the server
// edition's key of the product personality: "InstallDir" of the edition's registry key without
// a trailing backslash, the edition's default folder when the key is missing, or the full
// current folder when the value cannot be read.
std::wstring getInstallDir();

// Edition 1 is the server edition; its key comes from the product personality.
std::wstring lookUpInstallDir(int edition, const std::wstring& serverRegistryKey);

// Forgets the cached folder (tests only).
void resetInstallDirCacheForTesting();
