#include "policy_ui/shortcut.h"

#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cwchar>

#include "win/com_ptr.h"
#include "win/strings.h"

namespace {

constexpr wchar_t kUiPrefix[] = L"glacis";
constexpr size_t kUiPrefixChars = sizeof(kUiPrefix) / sizeof(kUiPrefix[0]) - 1;
constexpr wchar_t kUiArguments[] = L"-closed";
constexpr int32_t kUiIconIndex = 30;
constexpr int32_t kOtherIconIndex = 0;

// Set once this code has initialised COM on the program's thread; never cleared, because COM
// stays initialised for the rest of the process.
bool gComInitialised = false;

// Everything a shortcut file records, gathered before the link object is made.
struct ShortcutProperties {
    std::wstring target;  // full path
    std::wstring description;
    const wchar_t* arguments;  // null: none
    int32_t iconIndex;
    std::wstring workingFolder;  // folder of the full target
};

// Fills the properties from the target path; E_FAIL when it cannot be made full, and the
// too-long answer when the full path would not fit.
HRESULT describeTarget(const std::wstring& targetPath,
                       const std::wstring& description,
                       const wchar_t* arguments,
                       int32_t iconIndex,
                       ShortcutProperties& out) {
    if (!win::fitsPath(targetPath))
        return kShortcutPathTooLong;
    wchar_t full[win::kMaxPathChars + 1] = {};
    DWORD n = GetFullPathNameW(targetPath.c_str(), static_cast<DWORD>(win::kMaxPathChars + 1), full,
                               nullptr);
    if (n == 0)
        return E_FAIL;
    if (n > win::kMaxPathChars)
        return kShortcutPathTooLong;
    wchar_t folder[win::kMaxPathChars + 1] = {};
    wcscpy(folder, full);
    PathRemoveFileSpecW(folder);

    out.target = full;
    out.description = description;
    out.arguments = arguments;
    out.iconIndex = iconIndex;
    out.workingFolder = folder;
    return S_OK;
}

HRESULT saveLink(const std::wstring& linkPath, const ShortcutProperties& p) {
    win::ComPtr<IShellLinkW> link;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  link.receive());
    if (FAILED(hr))
        return hr;
    win::ComPtr<IPersistFile> file;
    hr = link.queryInterface(IID_IPersistFile, file);
    if (FAILED(hr))
        return hr;

    hr = link->SetPath(p.target.c_str());
    if (FAILED(hr))
        return hr;
    hr = link->SetDescription(p.description.c_str());
    if (FAILED(hr))
        return hr;
    if (p.arguments != nullptr) {
        hr = link->SetArguments(p.arguments);
        if (FAILED(hr))
            return hr;
    }
    hr = link->SetIconLocation(p.target.c_str(), p.iconIndex);
    if (FAILED(hr))
        return hr;
    hr = link->SetWorkingDirectory(p.workingFolder.c_str());
    if (FAILED(hr))
        return hr;
    return file->Save(linkPath.c_str(), TRUE);
}

}  // namespace

HRESULT createLink(const std::wstring& linkPath,
                   const std::wstring& targetPath,
                   const std::wstring& description,
                   const wchar_t* arguments,
                   int32_t iconIndex) {
    // A link path that does not fit would be saved under a different, cut name.
    if (!win::fitsPath(linkPath))
        return kShortcutPathTooLong;
    ShortcutProperties properties;
    HRESULT hr = describeTarget(targetPath, description, arguments, iconIndex, properties);
    if (FAILED(hr))
        return hr;
    return saveLink(linkPath, properties);
}

HRESULT createShortcut(const std::wstring& linkPath,
                       const std::wstring& targetFolder,
                       const std::wstring& targetFileName) try {
    std::wstring targetPath = targetFolder + L"\\" + targetFileName;
    if (!win::fitsPath(targetPath) || !win::fitsPath(linkPath))
        return kShortcutPathTooLong;

    bool ui = _wcsnicmp(targetFileName.c_str(), kUiPrefix, kUiPrefixChars) == 0;
    const wchar_t* arguments = ui ? kUiArguments : nullptr;
    int32_t iconIndex = ui ? kUiIconIndex : kOtherIconIndex;

    if (!gComInitialised) {
        // The result does not matter: an apartment that was already initialised serves as well.
        (void)CoInitialize(nullptr);
        gComInitialised = true;
    }
    return createLink(linkPath, targetPath, targetFileName, arguments, iconIndex);
} catch (...) {
    // Out of memory: report it as this operation's failure; nothing may escape to the caller.
    return E_OUTOFMEMORY;
}
