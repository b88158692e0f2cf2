#include "personality/file_open.h"

#ifdef _WIN32
#include <wchar.h>
#endif

namespace personality {

namespace {

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

bool IsHighSurrogate(char16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool IsLowSurrogate(char16_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

#ifdef _WIN32
static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t expected on Windows");

const wchar_t* AsWide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}
#endif

}  // namespace

std::string Utf16ToUtf8(const std::u16string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t k = 0; k < text.size(); ++k) {
        char16_t u = text[k];
        if (IsHighSurrogate(u) && k + 1 < text.size() && IsLowSurrogate(text[k + 1])) {
            char32_t c = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) +
                         (static_cast<char32_t>(text[k + 1]) - 0xDC00);
            AppendUtf8(out, c);
            ++k;
        } else if (IsHighSurrogate(u) || IsLowSurrogate(u)) {
            AppendUtf8(out, 0xFFFD);
        } else {
            AppendUtf8(out, u);
        }
    }
    return out;
}

UniqueFile OpenFileUtf16(const char16_t* path, const char* mode) {
    if (path == nullptr || path[0] == u'\0' || mode == nullptr) {
        return UniqueFile();
    }
#ifdef _WIN32
    std::wstring wideMode;
    for (const char* m = mode; *m != '\0'; ++m) {
        wideMode.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*m)));
    }
    return UniqueFile(_wfopen(AsWide(path), wideMode.c_str()));
#else
    return UniqueFile(fopen(Utf16ToUtf8(path).c_str(), mode));
#endif
}

bool RemoveFileUtf16(const char16_t* path) {
    if (path == nullptr || path[0] == u'\0') {
        return false;
    }
#ifdef _WIN32
    return _wremove(AsWide(path)) == 0;
#else
    return remove(Utf16ToUtf8(path).c_str()) == 0;
#endif
}

}  // namespace personality
