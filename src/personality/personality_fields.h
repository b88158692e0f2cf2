// Filling a Personality from a loaded personality file: the texts, integers, feature flags,
// policy namespaces, module lists and GUI settings. Locating the file and the WOW64 query
// are Windows-side (personality_win.cpp). Portable: no <windows.h>.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "personality/crypt_file_helper.h"
#include "personality/personality.h"

// Keys of section "GUI", in the order of Personality::guiLevel.
extern const char16_t* const kGuiLevelKeys[kGuiLevelCount];

// True when text equals "true", "enabled", "on" or "1", ignoring ASCII case; false otherwise.
bool ParseBool(const std::u16string& text);

// "INPROC" 0, "OUTPROC" 1, "SERVICE" 2, "STANDALONE" 3, compared exactly; anything else 0.
RunMode ParseRunMode(const std::u16string& text);

// Cuts the next field from text at position, by separator. At or beyond the end of the
// text: the empty field, position unchanged. Otherwise the field runs from position up to
// the next separator (an empty field when the separator stands right at position), and
// position moves just past that separator; without a further separator the field is the
// rest of the text and position moves to the end. Every call that returns a field from
// inside the text moves position forward, so a loop "while position < size" always ends.
std::u16string NextToken(const std::u16string& text, char16_t separator, size_t& position);

// "PolicyNamespace": items split at commas (empty items skipped), each item
// "name^namespace" at its first '^'; an item without '^' is ignored. The whole text is
// parsed, whatever its length. Appends to names (repeats kept) and sets namespaces[name]
// (the last repeat wins).
void ParsePolicyNamespaces(const std::u16string& text,
                           std::vector<std::u16string>& names,
                           std::map<std::u16string, std::u16string>& namespaces);

// For each policy name with a '/' and text after its last '/': that text plus ".xml".
std::vector<std::u16string> PolicyFilesFor(const std::vector<std::u16string>& names);

// "Loadable" and "Signable": entries cut at '|'. An empty entry (a leading '|', "||", a
// trailing '|') is skipped in both lists, so every entry names something. A Loadable entry
// is name^target^runmode; missing fields are empty, runmode goes through ParseRunMode.
std::vector<LoadableModule> ParseLoadableModules(const std::u16string& text);
std::vector<SignableModule> ParseSignableModules(const std::u16string& text);

// The load's steps from section "Runtime": edition, texts, ProductID and RoleID, the policy
// namespaces and the twelve feature flags. Missing keys leave the fields as they are.
// False only when memory runs out (the fields are then partly set).
bool ReadPersonalityRuntime(Personality& personality, const CCryptFileHelper& file);
// The load's steps after the WOW64 query: the module lists, the GUI settings (2 unless
// given) and policyFiles. False only when memory runs out.
bool ReadPersonalityModules(Personality& personality, const CCryptFileHelper& file);
// Both of the above, in order (for callers that make no WOW64 query in between).
bool ReadPersonality(Personality& personality, const CCryptFileHelper& file);
