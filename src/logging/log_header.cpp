#include "logging/log_header.h"

#include <cerrno>
#include <cstdarg>
#include <cwchar>
#include <new>

#include "logging/log_format.h"

static_assert(sizeof(OSVERSIONINFOEXW) == kVersionInfoExSize, "extended version record size");

namespace {

// The "NT 6.1" part of a name is built in a buffer of this many characters.
constexpr size_t kNtNameChars = 32;
// szCSDVersion holds 128 characters, not necessarily terminated.
constexpr size_t kServicePackChars = sizeof(OSVERSIONINFOEXW{}.szCSDVersion) / sizeof(wchar_t);

constexpr WORD kWorkstation = VER_NT_WORKSTATION;             // 1
constexpr WORD kDomainController = VER_NT_DOMAIN_CONTROLLER;  // 2
constexpr WORD kServer = VER_NT_SERVER;                       // 3

// Formats with the Microsoft CRT, whose %s takes a wide string in a wide format (MinGW's own
// printf family would read it as narrow). _vsnwprintf neither terminates nor reports the
// length when it cuts, so a cut counts as a failure and leaves the empty text.
bool formatInto(wchar_t* buf, size_t cap, const wchar_t* format, ...) {
    if (buf == nullptr || cap == 0) {
        return false;
    }
    va_list args;
    va_start(args, format);
    const int n = _vsnwprintf(buf, cap, format, args);
    va_end(args);
    if (n < 0 || static_cast<size_t>(n) >= cap) {
        buf[0] = L'\0';
        return false;
    }
    return true;
}

// Bounded concatenation with wcscat_s's contract: EINVAL for a missing or unterminated
// destination, ERANGE (and the empty text) when the source does not fit.
int32_t appendBounded(wchar_t* buf, size_t cap, const wchar_t* text) {
    if (buf == nullptr || cap == 0) {
        return EINVAL;
    }
    size_t used = 0;
    while (used < cap && buf[used] != L'\0') {
        ++used;
    }
    if (used == cap) {
        buf[0] = L'\0';
        return EINVAL;
    }
    const size_t len = wcslen(text);
    if (len >= cap - used) {
        buf[0] = L'\0';
        return ERANGE;
    }
    wmemcpy(buf + used, text, len + 1);
    return 0;
}

bool copyText(const wchar_t* text, wchar_t* buf, size_t cap) {
    return formatInto(buf, cap, L"%s", text);
}

bool hasSuite(const OSVERSIONINFOEXW& v, WORD suite) {
    return (v.wSuiteMask & suite) != 0;
}

const wchar_t* editionWin95Family(const OSVERSIONINFOEXW& v) {
    const wchar_t* sp = v.szCSDVersion;
    if (v.dwMajorVersion == 4 && v.dwMinorVersion == 0) {
        if (sp[0] == L'\0') {
            return L"REL";
        }
        switch (sp[1]) {
            case L'A':
                return L"OSR1";
            case L'B':
                return LOWORD(v.dwBuildNumber) == 1111 ? L"OSR2" : L"OSR2.1";
            case L'C':
                return L"OSR2.5";
            default:
                return L"";
        }
    }
    if (v.dwMajorVersion == 4 && v.dwMinorVersion == 10) {
        if (sp[1] == L'\0') {
            return L"REL";
        }
        return sp[1] == L'A' ? L"Second Edition" : L"";
    }
    if (v.dwMajorVersion == 4 && v.dwMinorVersion == 90) {
        return L"REL";
    }
    return L"";
}

const wchar_t* editionNt(const OSVERSIONINFOEXW& v) {
    const bool datacenter = hasSuite(v, VER_SUITE_DATACENTER);
    const bool enterprise = hasSuite(v, VER_SUITE_ENTERPRISE);
    if (v.dwMajorVersion == 5) {
        if (v.wProductType == kWorkstation || v.wProductType == kDomainController) {
            return hasSuite(v, VER_SUITE_PERSONAL) ? L"Home Edition" : L"Professional";
        }
        if (v.wProductType != kServer) {
            return L"";
        }
        if (v.dwMinorVersion != 0) {
            return datacenter   ? L"Datacenter Edition"
                   : enterprise ? L"Enterprise Edition"
                                : L"Standard Edition";
        }
        return datacenter ? L"Datacenter Server" : enterprise ? L"Advanced Server" : L"Server";
    }
    if (v.dwMajorVersion == 6 && v.dwMinorVersion == 0) {
        // Vista as well: this rule looks at the suite bits only.
        return datacenter   ? L"Datacenter Edition"
               : enterprise ? L"Enterprise Edition"
                            : L"Standard Edition";
    }
    return L"";
}

// The build number proper on NT; the 95 family keeps its version in the high word.
DWORD buildValue(const OSVERSIONINFOEXW& v) {
    return v.dwPlatformId == VER_PLATFORM_WIN32_NT ? v.dwBuildNumber : LOWORD(v.dwBuildNumber);
}

// The text after the last backslash, else after the last slash, else empty; cut to cap - 1.
void fileNameOf(const wchar_t* path, wchar_t* buf, size_t cap) {
    buf[0] = L'\0';
    if (path == nullptr) {
        return;
    }
    const wchar_t* sep = wcsrchr(path, L'\\');
    if (sep == nullptr) {
        sep = wcsrchr(path, L'/');
    }
    if (sep == nullptr) {
        return;
    }
    const wchar_t* name = sep + 1;
    size_t n = 0;
    while (n + 1 < cap && name[n] != L'\0') {
        buf[n] = name[n];
        ++n;
    }
    buf[n] = L'\0';
}

}  // namespace

int32_t subscriptionText(int32_t mask, wchar_t* buf, size_t cap) {
    if (buf == nullptr || cap == 0) {
        return EINVAL;
    }
    buf[0] = L'\0';
    const struct {
        bool on;
        int32_t level;
    } names[] = {
        {mask == 0, logfmt::kLevelNone},
        {mask == -1, logfmt::kLevelAll},
        {(mask & logfmt::kLevelError) != 0, logfmt::kLevelError},
        {(mask & logfmt::kLevelWarn) != 0, logfmt::kLevelWarn},
        {(mask & logfmt::kLevelInfo) != 0, logfmt::kLevelInfo},
        {(mask & logfmt::kLevelDebug) != 0, logfmt::kLevelDebug},
    };
    bool first = true;
    for (const auto& entry : names) {
        if (!entry.on) {
            continue;
        }
        if (!first) {
            if (const int32_t err = appendBounded(buf, cap, L" ")) {
                return err;
            }
        }
        if (const int32_t err = appendBounded(buf, cap, logfmt::levelName(entry.level).wideText)) {
            return err;
        }
        first = false;
    }
    return 0;
}

bool osName(const OSVERSIONINFOEXW& v, wchar_t* buf, size_t cap) {
    wchar_t nt[kNtNameChars];
    const wchar_t* product = L"unknown platform";
    const DWORD major = v.dwMajorVersion;
    const DWORD minor = v.dwMinorVersion;
    switch (v.dwPlatformId) {
        case VER_PLATFORM_WIN32s:
            product = L"Win32s";
            break;
        case VER_PLATFORM_WIN32_WINDOWS:
            product = (major == 4 && minor == 10)   ? L"98"
                      : (major == 4 && minor == 90) ? L"Me"
                                                    : L"95";
            break;
        case VER_PLATFORM_WIN32_NT:
            if (major == 5 && minor == 0) {
                product = L"2000";
            } else if (major == 5 && minor == 1) {
                product = L"XP";
            } else if (major == 5 && minor == 2) {
                product = L"Server 2003";
            } else if (major == 6 && minor == 0) {
                product = v.wProductType == kWorkstation ? L"Vista" : L"Server 2008";
            } else {
                if (!formatInto(nt, kNtNameChars, L"%s %u.%u", L"NT", major, minor)) {
                    if (buf != nullptr && cap != 0) {
                        buf[0] = L'\0';
                    }
                    return false;
                }
                product = nt;
            }
            break;
        default:
            break;
    }
    return formatInto(buf, cap, L"%s%s", L"Microsoft Windows ", product);
}

bool osEdition(const OSVERSIONINFOEXW& v, wchar_t* buf, size_t cap) {
    const wchar_t* edition = L"";
    if (v.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
        edition = editionWin95Family(v);
    } else if (v.dwPlatformId == VER_PLATFORM_WIN32_NT) {
        edition = editionNt(v);
    }
    return copyText(edition, buf, cap);
}

bool describeOs(const OSVERSIONINFOEXW& v, wchar_t* buf, size_t cap) {
    wchar_t name[kHeaderBufferChars];
    wchar_t edition[kHeaderBufferChars];
    wchar_t servicePack[kServicePackChars + 1];
    wmemcpy(servicePack, v.szCSDVersion, kServicePackChars);
    servicePack[kServicePackChars] = L'\0';
    if (!osName(v, name, kHeaderBufferChars) || !osEdition(v, edition, kHeaderBufferChars)) {
        if (buf != nullptr && cap != 0) {
            buf[0] = L'\0';
        }
        return false;
    }
    return formatInto(buf, cap, L"%s %s \"%s\" (%s %u.%u %s %u)", name, edition, servicePack,
                      L"ver", v.dwMajorVersion, v.dwMinorVersion, L"build", buildValue(v));
}

bool formatHeaderBlock(const wchar_t* logPath,
                       int32_t mask,
                       const OSVERSIONINFOEXW* osOrNull,
                       std::wstring& out) {
    out.clear();
    wchar_t file[kHeaderFileNameChars + 1];
    fileNameOf(logPath, file, kHeaderFileNameChars + 1);

    wchar_t subscriptions[kHeaderBufferChars];
    if (subscriptionText(mask, subscriptions, kHeaderBufferChars) != 0) {
        return false;
    }

    wchar_t os[kHeaderBufferChars];
    if (osOrNull != nullptr && !describeOs(*osOrNull, os, kHeaderBufferChars)) {
        return false;
    }
    try {
        out = logfmt::headerBlock(file, subscriptions, osOrNull != nullptr ? os : nullptr);
    } catch (const std::bad_alloc&) {
        out.clear();
        return false;
    }
    // The block is built in a buffer of this size: one that does not fit is not written.
    if (out.size() >= kHeaderBufferChars) {
        out.clear();
        return false;
    }
    return true;
}

bool queryOsVersion(OSVERSIONINFOEXW& v) {
    ZeroMemory(&v, sizeof v);
    v.dwOSVersionInfoSize = kVersionInfoExSize;
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&v))) {
        ZeroMemory(&v, sizeof v);
        return false;
    }
    v.szCSDVersion[kServicePackChars - 1] = L'\0';
    return true;
}

bool buildHeaderBlock(const wchar_t* logPath, int32_t mask, std::wstring& out) {
    OSVERSIONINFOEXW v;
    const bool haveVersion = queryOsVersion(v);
    return formatHeaderBlock(logPath, mask, haveVersion ? &v : nullptr, out);
}
