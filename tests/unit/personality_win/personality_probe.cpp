// Loads the process's personality the way the tool does (from its current folder or the
// agent's registry key) and writes what it found, one "name=value" line each, to the file named
// by its first argument. With "twice" as the second argument it rewrites "personality.ini" in
// its current folder after the first call and asks again, to show the load happens once.
#include <windows.h>

#include <cstdio>
#include <string>

#include "migration/host_queries.h"
#include "personality/personality_win.h"
#include "win/strings.h"

namespace {

std::string utf8(const std::u16string& text) {
    return win::toNarrowUtf8(toWide(text));
}

std::string describe(const Personality& p) {
    std::string text;
    text += "loadFailed=" + std::to_string(p.loadFailed ? 1 : 0) + "\n";
    text += "wow64=" + std::to_string(p.wow64) + "\n";
    text += "edition=" + std::to_string(p.edition) + "\n";
    text += "ProductName=" + utf8(p.ProductName) + "\n";
    text += "RegistryKey=" + utf8(p.RegistryKey) + "\n";
    return text;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2)
        return 64;
    bool twice = argc > 2 && wcscmp(argv[2], L"twice") == 0;
    Personality* first = GetPersonality();
    std::string text = describe(*first);
    if (twice) {
        FILE* f = _wfopen(kPersonalityFileName, L"wb");
        if (f) {
            fputs("[Runtime]\r\nProductName=Rewritten\r\n", f);
            fclose(f);
        }
        Personality* second = GetPersonality();
        text += "same=" + std::to_string(first == second ? 1 : 0) + "\n";
        text += "ProductName2=" + utf8(second->ProductName) + "\n";
    }
    text += "installDir=" + win::toNarrowUtf8(getInstallDir()) + "\n";
    FILE* out = _wfopen(argv[1], L"wb");
    if (!out)
        return 65;
    fwrite(text.data(), 1, text.size(), out);
    fclose(out);
    return 0;
}
