#include "report/display_text.h"

#include <cstdio>

#include "report/win32_codes.h"

namespace report {

std::string percent(size_t part, size_t whole) {
    char text[16];
    std::snprintf(text, sizeof text, "%.1f%%", whole ? 100.0 * part / whole : 0.0);
    return text;
}

std::string codeText(int64_t code) {
    std::string text = std::to_string(code);
    if (const Win32Code* known = findWin32Code(code)) {
        text += ' ';
        text += known->name;
        text += ": ";
        text += known->text;
    }
    return text;
}

std::string plainText(const char* markdown) {
    std::string out;
    for (const char* p = markdown; *p != '\0'; ++p) {
        if (*p == '`')
            continue;
        if (*p == ']' && p[1] == '(') {
            // "[text](link)": the text is already out; skip the link.
            while (*p != '\0' && *p != ')')
                ++p;
            if (*p == '\0')
                break;
            continue;
        }
        if (*p != '[')
            out.push_back(*p);
    }
    return out;
}

}  // namespace report
