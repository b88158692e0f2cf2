// Reads the IncludeLocalGUI decision out of the agent's policy: "policy.xml" in the installation
// folder is deciphered into "policy.txt" beside it, the text is scanned for the two markers, and
// "policy.txt" is deleted again.
#pragma once

#include <string>

// UTF-8 form of text up to its first zero unit; empty for empty text or a failed conversion.
std::string toUtf8(const std::wstring& text);

// True when the policy holds "IncludeLocalGUI='true'" or "IncludeLocalGUI='false'" (the first
// piece of text that holds either decides; within a piece 'true' wins); includeLocalGUI is then
// set to match. False when the policy is missing, cannot be deciphered or read, holds no marker,
// or the folder is too long for the policy paths to fit 260 characters (nothing is touched then);
// includeLocalGUI keeps its value. Every step is logged on gLogger; "policy.xml" is never changed.
bool readPolicy(const std::wstring& installDir, bool& includeLocalGUI);

// What readPolicy would conclude on this folder now, found without writing, deleting or locking
// anything: the policy is deciphered in memory and scanned as readPolicy scans "policy.txt".
enum class PolicyPreview {
    Missing,         // "policy.xml" is not there (or its path does not fit)
    CannotDecipher,  // it cannot be opened or read to its end
    NoMarker,        // it holds neither marker
    IncludeUi,
    ExcludeUi,
};
PolicyPreview previewPolicy(const std::wstring& installDir);
