// The installation-folder query of the start-up, which later steps reuse.
#pragma once

#include <string>

// The product installation folder, looked up once per process with the edition and the server
// edition's key of the product personality: "InstallDir" of the edition's registry key without
// a trailing backslash, the edition's default folder when the key is missing, or the full
// current folder when the value cannot be read.
std::wstring getInstallDir();

// Edition 1 is the server edition; its key comes from the product personality.
std::wstring lookUpInstallDir(int edition, const std::wstring& serverRegistryKey);

// Forgets the cached folder (tests only).
void resetInstallDirCacheForTesting();
