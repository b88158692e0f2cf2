#include "logging/logger.h"

#include <io.h>
#include <share.h>
#include <time.h>
#include <wchar.h>

#include <cstdarg>
#include <string>

#include "logging/event_trace.h"
#include "logging/log_format.h"
#include "logging/log_header.h"
#include "win/strings.h"

THLogger* gLogger = nullptr;

namespace {

// Silent until someone asks for the real instance with a path.
THLogger gDefaultLogger;
THLogger* gInstance = nullptr;
bool gInstanceMade = false;

void copyCut(wchar_t* dst, size_t chars, const wchar_t* src) {
    size_t n = src ? wcsnlen(src, chars) : 0;
    wmemcpy(dst, src ? src : L"", n);
    dst[n] = L'\0';
}

}  // namespace

THLogger::THLogger() : file_(nullptr), mask_(0), outputs_(0), path_{}, tag_{} {}

THLogger::~THLogger() {
    close();
}

void THLogger::close() {
    if (file_) {
        fclose(file_);
        file_ = nullptr;
    }
    mask_ = 0;
    outputs_ = 0;
    unregisterTraceProvider();
}

void THLogger::open(const wchar_t* path, int32_t mask, int32_t outputs, const wchar_t* tag) {
    if (!path)
        path = L"";
    bool isNew = file_ == nullptr || _wcsicmp(path, path_) != 0;
    if (file_ && isNew) {
        fclose(file_);
        file_ = nullptr;
    }
    // A path that does not fit is refused, never cut and opened as another file.
    bool pathFits = wcslen(path) <= kLogPathChars;
    if ((outputs & LOG_FILE) && !file_ && pathFits && *path) {
        rotateFiles(path);
        file_ = _wfsopen(path, L"w, ccs=UTF-8", _SH_DENYNO);
        if (file_) {
            // The C runtime opens files inheritable; a program the tool starts (and whatever it
            // leaves running) must not keep the log open.
            HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file_)));
            if (handle != INVALID_HANDLE_VALUE)
                SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0);
        }
    }
    if (!(outputs & LOG_FILE) && file_) {
        fclose(file_);
        file_ = nullptr;
    }
    mask_ = mask;
    outputs_ = outputs;
    copyCut(path_, pathFits ? kLogPathChars : 0, path);
    copyCut(tag_, kLogTagChars, tag);
    if (isNew)
        writeHeader();
    // A failed registration is undone inside and leaves this logger without trace output.
    if ((outputs & LOG_TRACE) && gTraceProvider.registrationHandle == 0)
        registerTraceProvider();
}

bool THLogger::writeHeader() {
    if (!file_)
        return false;
    std::wstring block;
    if (!buildHeaderBlock(path_, mask_, block))
        return false;
    // Written as the text itself ("%s"): MinGW's own fwprintf would read %s as narrow.
    if (fputws(block.c_str(), file_) == WEOF)
        return false;
    return fflush(file_) == 0;
}

void THLogger::logV(int32_t level, const wchar_t* format, va_list args) try {
    if ((level & mask_) == 0 || outputs_ == 0)
        return;

    wchar_t message[kLogMessageChars + 1];
    message[0] = L'\0';
    _vsnwprintf(message, kLogMessageChars + 1, format ? format : L"", args);
    // Cut messages carry no terminator from the CRT.
    message[kLogMessageChars] = L'\0';

    time_t now = time(nullptr);
    struct tm local = {};
    struct tm* parts = localtime(&now);
    if (parts)
        local = *parts;

    wchar_t levelText[33];
    if (wcsncpy_s(levelText, levelName(level), _TRUNCATE) != 0)
        return;

    if ((outputs_ & LOG_FILE) && file_) {
        const logfmt::RecordStamp stamp = {local.tm_mon + 1, local.tm_mday, local.tm_year + 1900,
                                           local.tm_hour,    local.tm_min,  local.tm_sec};
        std::wstring record;
        logfmt::appendRecordHead(record, stamp, GetCurrentThreadId(), levelText, tag_);
        record += message;
        fputws(record.c_str(), file_);
        fflush(file_);
    }
    if (outputs_ & LOG_DEBUGGER)
        OutputDebugStringW(message);
    if ((outputs_ & LOG_TRACE) && gTraceProvider.traceEnabled)
        sendTraceEvent(path_, message);
} catch (...) {
    // A message that cannot be built is dropped; logging never fails the caller.
}

THLogger* THSingletonLogger::instance(const wchar_t* path, int32_t mask, int32_t outputs) {
    if (gInstanceMade)
        return gInstance;
    if (!path || !*path)
        return &gDefaultLogger;
    THSingletonLogger* logger = new (std::nothrow) THSingletonLogger();
    if (!logger)
        return nullptr;
    gInstance = logger;
    logger->open(path, mask, outputs, nullptr);
    gInstanceMade = true;
    return logger;
}

THSingletonLogger::~THSingletonLogger() {
    if (gInstance == this) {
        gInstance = nullptr;
        gInstanceMade = false;
    }
}

void logMessage(THLogger* logger, int32_t level, const wchar_t* format, ...) {
    if (!logger)
        return;
    va_list args;
    va_start(args, format);
    logger->logV(level, format, args);
    va_end(args);
}

const wchar_t* levelName(int32_t level) {
    return logfmt::levelName(level).wideText;
}

void rotateFiles(const wchar_t* path) try {
    if (!path)
        return;
    std::wstring full(path);
    size_t slash = full.find_last_of(L'\\');
    if (slash == std::wstring::npos)
        return;
    std::wstring folder = full.substr(0, slash);
    std::wstring name = full.substr(slash + 1);
    // Parts that do not fit are not rotated, so that no other file is renamed by mistake.
    if (folder.size() > kLogPathChars || name.size() > kLogPathChars)
        return;

    _wremove(win::formatWide(L"%s\\%d_%s", folder.c_str(), 5, name.c_str()).c_str());
    for (int n = 4; n >= 1; --n) {
        std::wstring from = win::formatWide(L"%s\\%d_%s", folder.c_str(), n, name.c_str());
        std::wstring to = win::formatWide(L"%s\\%d_%s", folder.c_str(), n + 1, name.c_str());
        _wrename(from.c_str(), to.c_str());
    }
    _wrename(win::formatWide(L"%s\\%s", folder.c_str(), name.c_str()).c_str(),
             win::formatWide(L"%s\\%d_%s", folder.c_str(), 1, name.c_str()).c_str());
} catch (...) {
    // Rotation is best effort.
}
