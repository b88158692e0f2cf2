// Test helpers: personality files in their plain and enciphered stored forms, and the
// registry values that locate them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "cryptfile/text_format.h"
#include "stored_form.h"

namespace ptest {

constexpr char kUtf8Mark[] = "\xEF\xBB\xBF";

// Stored form: every byte combined with the RC4 keystream of the agent's fixed key text.
inline std::string encipher(const std::string& plain) {
    return testsupport::encipher(plain);
}

// A small personality: edition, product name and registry key in section "Runtime".
inline std::string personalityText(const std::string& edition,
                                   const std::string& productName,
                                   const std::string& registryKey) {
    return "[Runtime]\r\nPersonality=" + edition + "\r\nProductName=" + productName +
           "\r\nRegistryKey=" + registryKey + "\r\n";
}

// Writes value under HKEY_LOCAL_MACHINE (32-bit view) with its bytes exactly as given, so a
// test can store a value without its terminator.
inline bool setRawString(const std::wstring& key,
                         const std::wstring& name,
                         const std::wstring& bytesOfValue) {
    HKEY h = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &h,
                        nullptr) != ERROR_SUCCESS) {
        return false;
    }
    LONG rc = RegSetValueExW(h, name.c_str(), 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(bytesOfValue.data()),
                             static_cast<DWORD>(bytesOfValue.size() * sizeof(wchar_t)));
    RegCloseKey(h);
    return rc == ERROR_SUCCESS;
}

inline std::wstring currentFolder() {
    wchar_t folder[MAX_PATH + 1] = {};
    GetCurrentDirectoryW(MAX_PATH + 1, folder);
    return folder;
}

// Enters a folder for the lifetime of the object and goes back afterwards.
class InFolder {
  public:
    explicit InFolder(const std::wstring& folder) : previous_(currentFolder()) {
        SetCurrentDirectoryW(folder.c_str());
    }
    ~InFolder() { SetCurrentDirectoryW(previous_.c_str()); }
    InFolder(const InFolder&) = delete;
    InFolder& operator=(const InFolder&) = delete;

  private:
    std::wstring previous_;
};

}  // namespace ptest
