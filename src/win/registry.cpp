#include "win/registry.h"

#include <vector>

#include "win/scoped.h"

namespace win {

bool keyPresent(HKEY root, const wchar_t* subKey) {
    ScopedRegKey key;
    LONG rc = RegOpenKeyExW(root, subKey, 0, KEY_READ, key.receive());
    return rc == ERROR_SUCCESS || rc == ERROR_ACCESS_DENIED;
}

LONG readStringValue(HKEY key, const wchar_t* name, size_t maxChars, std::wstring& value) {
    // Room for the characters and a terminator the value may or may not carry.
    std::vector<wchar_t> buffer(maxChars + 2, L'\0');
    DWORD bytes = static_cast<DWORD>((maxChars + 1) * sizeof(wchar_t));
    LONG rc = RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()),
                               &bytes);
    if (rc != ERROR_SUCCESS)
        return rc;
    size_t chars = bytes / sizeof(wchar_t);
    // Stop at the first terminator the value holds; an unterminated value ends at its size.
    size_t length = 0;
    while (length < chars && buffer[length] != L'\0')
        ++length;
    if (length > maxChars)
        return ERROR_MORE_DATA;
    value.assign(buffer.data(), length);
    return ERROR_SUCCESS;
}

}  // namespace win
