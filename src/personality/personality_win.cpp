#include "personality/personality_win.h"

#include <new>

#include "personality/crypt_file_helper.h"
#include "personality/personality.h"
#include "personality/personality_fields.h"
#include "win/registry.h"
#include "win/scoped.h"
#include "win/strings.h"

namespace {

Personality* gPersonality = nullptr;

// The value and the joined path each hold at most this many characters.
constexpr size_t kMaxInstallDirChars = win::kMaxPathChars;

bool installDirOfHostAgent(std::wstring& folder) {
    win::ScopedRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kHostAgentKey, 0, KEY_READ, key.receive()) !=
        ERROR_SUCCESS) {
        return false;
    }
    // Any value type is accepted; a value that does not fit is refused, not cut.
    if (win::readStringValue(key.get(), L"InstallDir", kMaxInstallDirChars, folder) !=
        ERROR_SUCCESS) {
        return false;
    }
    // An empty value names no folder: "\personality.ini" would be another file.
    return !folder.empty();
}

// Reads the located file into the fields; false when it cannot be read. wow64 is worked out
// between the two halves, where the load has always made its query; queried tells whether it
// was.
bool readPersonalityFile(Personality& personality, const std::wstring& path, bool& queried) {
    std::u16string path16 = toU16(path);
    CCryptFileHelper reader;
    reader.SetPath(path16.c_str());
    if (!reader.Load(path16.c_str()))
        return false;
    bool runtimeRead = ReadPersonalityRuntime(personality, reader);
    isWow64(personality);
    queried = true;
    bool modulesRead = ReadPersonalityModules(personality, reader);
    return runtimeRead && modulesRead;
}

}  // namespace

bool locatePersonalityFile(std::wstring& path) {
    path.clear();
    CCryptFileHelper probe;
    if (probe.FileExists(toU16(kPersonalityFileName).c_str())) {
        path = kPersonalityFileName;
        return true;
    }
    std::wstring folder;
    if (!installDirOfHostAgent(folder))
        return false;
    std::wstring joined = win::formatWide(L"%s\\%s", folder.c_str(), kPersonalityFileName);
    // A path that does not fit is refused: a cut one would name another file.
    if (joined.empty() || !win::fitsPath(joined))
        return false;
    path = joined;
    return true;
}

void loadPersonality(Personality& personality) {
    bool queried = false;
    try {
        std::wstring path;
        if (locatePersonalityFile(path) && readPersonalityFile(personality, path, queried))
            return;
    } catch (...) {
        // Memory ran out while building a path or a field: the load counts as failed.
    }
    // A failed load leaves every field at its initial value but these two. The driver updates
    // choose their installers by wow64, so it is worked out even without a file.
    int32_t wow64 = personality.wow64;
    personality = Personality();
    personality.loadFailed = true;
    personality.wow64 = wow64;
    if (!queried)
        isWow64(personality);
}

void isWow64With(Personality& personality, IsWow64ProcessFn query, DebugOutputFn debugOutput) {
    if (query == nullptr) {
        debugOutput(L"Personality::isWow64()::SYSTEM IS 2000 SERIES(32)");
        personality.wow64 = 0;
        return;
    }
    debugOutput(L"Personality::isWow64()::SYSTEM IS 2003 OR ABOVE(32/64)");
    BOOL answer = FALSE;
    if (!query(GetCurrentProcess(), &answer))
        return;
    if (answer == 1) {
        debugOutput(L"Personality::isWow64()::SYSTEM 64");
        personality.wow64 = 1;
    } else if (answer == 0) {
        debugOutput(L"Personality::isWow64()::SYSTEM 32");
        personality.wow64 = 0;
    } else {
        // The system answered "not FALSE": take it as WOW64 rather than end the process.
        debugOutput(L"Personality::isWow64()::ERROR CONDITION/DON'T KNOW WHAT TO DO:-)");
        personality.wow64 = 1;
    }
}

void isWow64(Personality& personality) {
    HMODULE kernel = GetModuleHandleW(L"kernel32");
    auto query = kernel == nullptr ? nullptr
                                   : reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void*>(
                                         GetProcAddress(kernel, "IsWow64Process")));
    isWow64With(personality, query, OutputDebugStringW);
}

Personality* GetPersonality() {
    if (gPersonality != nullptr)
        return gPersonality;
    // Static storage: the object lives until the process ends and is never destroyed.
    alignas(Personality) static unsigned char storage[sizeof(Personality)];
    Personality* personality = new (storage) Personality();
    loadPersonality(*personality);
    gPersonality = personality;
    return personality;
}
