#include "win/error_text.h"

#include <wctype.h>

#include <cstring>

#include "win/strings.h"

namespace {

constexpr size_t kErrorTextChars = 256;

wchar_t gErrorText[kErrorTextChars];
char gErrorTextUtf8[kErrorTextChars];

}  // namespace

const wchar_t* errorText(DWORD code) {
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0x400, gErrorText,
                             static_cast<DWORD>(kErrorTextChars), nullptr);
    if (n == 0 || n >= kErrorTextChars) {
        win::formatBounded(gErrorText, kErrorTextChars, L"%d", static_cast<int>(code));
        return gErrorText;
    }
    gErrorText[n] = L'\0';
    while (n > 0 && iswcntrl(gErrorText[n - 1]))
        gErrorText[--n] = L'\0';
    return gErrorText;
}

const char* errorTextUtf8(DWORD code) {
    const wchar_t* text = errorText(code);
    // Convert character by character so that a text too long for the buffer is cut at a
    // character boundary and stays terminated.
    size_t used = 0;
    gErrorTextUtf8[0] = '\0';
    for (size_t i = 0; text[i] != L'\0';) {
        size_t units = (IS_HIGH_SURROGATE(text[i]) && IS_LOW_SURROGATE(text[i + 1])) ? 2 : 1;
        char piece[8];
        int bytes = WideCharToMultiByte(CP_UTF8, 0, text + i, static_cast<int>(units), piece,
                                        sizeof(piece), nullptr, nullptr);
        if (bytes <= 0 || used + static_cast<size_t>(bytes) + 1 > kErrorTextChars)
            break;
        memcpy(gErrorTextUtf8 + used, piece, static_cast<size_t>(bytes));
        used += static_cast<size_t>(bytes);
        i += units;
    }
    gErrorTextUtf8[used] = '\0';
    return gErrorTextUtf8;
}
