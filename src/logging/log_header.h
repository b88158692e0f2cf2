// The header block at the top of every log file: the file name, the enabled levels and a
// description of the Windows version. The text is built apart from the file so that it can be
// checked on any version record; the logger writes what formatHeaderBlock returns.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

// Work buffers of the header: 2048 characters plus the terminator.
constexpr size_t kHeaderBufferChars = 2049;
// The file name shown in the header is cut to this many characters.
constexpr size_t kHeaderFileNameChars = 260;
// Size of the extended version record, as GetVersionExW expects it.
constexpr DWORD kVersionInfoExSize = 284;

// Names of the levels of `mask`, in the order NONE ALL ERROR WARN INFO DEBUG, separated by one
// blank, into buf (cap characters including the terminator). Returns 0, EINVAL when there is no
// buffer, or ERANGE when a name does not fit; on ERANGE buf holds the empty text.
int32_t subscriptionText(int32_t mask, wchar_t* buf, size_t cap);

// "Microsoft Windows " and the product name of the record (for instance "Microsoft Windows
// Server 2003", "Microsoft Windows NT 6.1"). False when it does not fit; buf is then empty.
bool osName(const OSVERSIONINFOEXW& v, wchar_t* buf, size_t cap);

// The edition of the record ("Enterprise Edition", "Professional", ...), empty when the record
// names none. False when it does not fit; buf is then empty.
bool osEdition(const OSVERSIONINFOEXW& v, wchar_t* buf, size_t cap);

// One line such as Microsoft Windows Server 2003 Enterprise Edition "Service Pack 2" (ver 5.2
// build 3790). False when any part does not fit; buf is then empty.
bool describeOs(const OSVERSIONINFOEXW& v, wchar_t* buf, size_t cap);

// The whole header block for the log file at logPath with level mask `mask`. The OS line is
// left out when osOrNull is null (the version could not be asked for). False when a part
// cannot be built; out is then empty.
bool formatHeaderBlock(const wchar_t* logPath,
                       int32_t mask,
                       const OSVERSIONINFOEXW* osOrNull,
                       std::wstring& out);

// Asks Windows for the extended version record. The service-pack text is terminated even if
// the system left it unterminated. False when the system refuses; v is then all zero.
bool queryOsVersion(OSVERSIONINFOEXW& v);

// formatHeaderBlock with this host's version record (without the OS line when it cannot be
// asked for).
bool buildHeaderBlock(const wchar_t* logPath, int32_t mask, std::wstring& out);
