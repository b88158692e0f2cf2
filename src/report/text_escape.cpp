#include "report/text_escape.h"

#include <cstdint>
#include <cstdio>

namespace report {

std::string csvField(std::string_view text) {
    std::string valid = validUtf8(text);
    // A hostile host writes its own log: a field a spreadsheet would take for a formula is
    // made text by a leading apostrophe (what spreadsheets themselves use to mark text).
    if (!valid.empty() && std::string_view("=+-@\t\r").find(valid[0]) != std::string_view::npos)
        valid.insert(0, 1, '\'');
    if (valid.find_first_of(",\"\r\n") == std::string::npos)
        return valid;
    std::string out = "\"";
    for (const char c : valid) {
        if (c == '"')
            out.push_back('"');
        out.push_back(c);
    }
    return out + "\"";
}

std::string htmlEscape(std::string_view text) {
    std::string out;
    for (const char c : validUtf8(text)) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                // Control characters other than white space are not allowed in HTML text.
                out.push_back(static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t' ? '?'
                                                                                             : c);
        }
    }
    return out;
}

std::string terminalText(std::string_view text) {
    std::string out = validUtf8(text);
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    }
    return out;
}

}  // namespace report
