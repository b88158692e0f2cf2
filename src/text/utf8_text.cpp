#include "text/utf8_text.h"

#include <cstdint>
#include <cstdio>

namespace text {

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";

// Length of the well-formed UTF-8 character at text[at], 0 when there is none.
size_t characterLength(std::string_view text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
    const uint8_t lead = byte(at);
    if (lead < 0x80)
        return 1;
    size_t length = 0;
    uint8_t low = 0x80;
    uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    for (size_t i = 1; i < length; ++i) {
        const uint8_t b = byte(at + i);
        const uint8_t lo = i == 1 ? low : 0x80;
        const uint8_t hi = i == 1 ? high : 0xBF;
        if (b < lo || b > hi)
            return 0;
    }
    return length;
}

}  // namespace

std::string validUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        // Runs of ASCII, the bulk of every log, are copied at once.
        size_t ascii = at;
        while (ascii < text.size() && static_cast<uint8_t>(text[ascii]) < 0x80)
            ++ascii;
        out.append(text.substr(at, ascii - at));
        at = ascii;
        if (at == text.size())
            break;
        const size_t n = characterLength(text, at);
        if (n == 0) {
            out += kReplacement;
            ++at;
        } else {
            out.append(text.substr(at, n));
            at += n;
        }
    }
    return out;
}

std::string escapedUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const size_t n = characterLength(text, at);
        if (n == 0) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned>(uint8_t(text[at])));
            out += hex;
            ++at;
        } else {
            out.append(text.substr(at, n));
            at += n;
        }
    }
    return out;
}

void appendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string jsonEscape(std::string_view text) {
    const std::string valid = validUtf8(text);
    std::string out;
    out.reserve(valid.size() + 8);
    size_t plain = 0;  // start of the characters not yet copied
    for (size_t i = 0; i < valid.size(); ++i) {
        const char c = valid[i];
        if (c != '"' && c != '\\' && static_cast<unsigned char>(c) >= 0x20)
            continue;
        out.append(valid, plain, i - plain);
        plain = i + 1;
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            default: {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\u%04x", static_cast<unsigned>(c));
                out += hex;
            }
        }
    }
    out.append(valid, plain, std::string::npos);
    return out;
}

}  // namespace text
