// Reinstalls the file-system filter driver "qsxfltr" with "IfsInst.exe" from the installation
// folder and puts a copy of its library "QsxFFilter.dll" into the product folder.
#pragma once

#include <string>

#include "personality/personality.h"

// What UpdateminiFilterDriver does on this host now: the run and the preflight both take it
// from here.
struct FilterDriverPlan {
    std::wstring uninstall;  // empty when the new agent's service is not registered
    std::wstring install;
    std::wstring librarySource;  // empty when the 32-bit source cannot be had whole
    std::wstring libraryDestination;
};
FilterDriverPlan filterDriverPlan(const std::wstring& installDir, const Personality& personality);

// Uninstalls the filter (only when the new agent's service is registered), installs it again
// from "<installDir>\drivers\qsxfltr", pauses 3 s and copies the library into the product
// folder; the installer's folder and the library's source follow the personality's wow64.
// Each step is logged; none stops the update. Command lines run whole at any length; a copy
// whose source or destination path is longer than 260 characters is not made and is logged as
// a failed copy with ERROR_FILENAME_EXCED_RANGE (206).
void UpdateminiFilterDriver(const std::wstring& installDir);
// The same with the personality given instead of GetPersonality().
void UpdateminiFilterDriver(const std::wstring& installDir, const Personality& personality);

// The product folder: "InstallDir" of the personality's registry key (true), or, when the key
// is empty or does not open, or the value is missing, empty or longer than 260 characters, the
// Program Files folder, "\QSX\" and the product name (false).
bool getProductFolder(std::wstring& folder);
bool getProductFolder(const Personality& personality, std::wstring& folder);
