#include "logging/event_trace.h"

#include <cstring>
#include <cwchar>

const GUID kTraceControlGuid = {0x9dee04dd,
                                0xd6f6,
                                0x4560,
                                {0xa6, 0x98, 0x2a, 0x97, 0x9b, 0xc4, 0xa7, 0x4a}};
const GUID kTraceEventClassGuid = {0x9dba0ee0,
                                   0x8727,
                                   0x43b3,
                                   {0xbd, 0x30, 0x3c, 0x53, 0x39, 0x8a, 0xeb, 0x02}};

// Constant-initialised, so the static default logger may unregister at process exit in any
// order of destruction.
TraceProviderState gTraceProvider;

namespace {

// Zero until a test replaces the calls; read through activeApi().
TraceApi gTestApi = {};

TraceApi activeApi() {
    return gTestApi.registerTraceGuids != nullptr ? gTestApi : systemTraceApi();
}

wchar_t upperAscii(wchar_t c) {
    // The run-time library's single-byte rule in the default locale: a-z only.
    return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

}  // namespace

TraceApi systemTraceApi() {
    return TraceApi{&RegisterTraceGuidsW, &UnregisterTraceGuids, &GetTraceLoggerHandle,
                    &GetTraceEnableFlags, &GetTraceEnableLevel,  &TraceEvent};
}

TraceApi setTraceApiForTest(const TraceApi& api) {
    const TraceApi previous = activeApi();
    gTestApi = api;
    return previous;
}

ULONG registerTraceProvider() {
    if (gTraceProvider.registrationHandle != 0) {
        return ERROR_SUCCESS;
    }
    const TraceApi api = activeApi();
    TRACE_GUID_REGISTRATION traceGuid = {&kTraceEventClassGuid, nullptr};
    TRACEHANDLE handle = 0;
    const ULONG err = api.registerTraceGuids(&traceControlCallback, nullptr, &kTraceControlGuid, 1,
                                             &traceGuid, nullptr, nullptr, &handle);
    if (err != ERROR_SUCCESS) {
        // The call may have stored a handle before it failed.
        if (handle != 0) {
            api.unregisterTraceGuids(handle);
        }
        gTraceProvider.registrationHandle = 0;
        return err;
    }
    gTraceProvider.registrationHandle = handle;
    return ERROR_SUCCESS;
}

void unregisterTraceProvider() {
    gTraceProvider.traceEnabled.store(false, std::memory_order_release);
    if (gTraceProvider.registrationHandle != 0) {
        activeApi().unregisterTraceGuids(gTraceProvider.registrationHandle);
        gTraceProvider.registrationHandle = 0;
    }
}

ULONG WINAPI traceControlCallback(WMIDPREQUESTCODE requestCode,
                                  PVOID /*context*/,
                                  ULONG* /*bufferSize*/,
                                  PVOID buffer) {
    switch (requestCode) {
        case WMI_ENABLE_EVENTS:
            // A second enable request while enabled changes nothing.
            if (!gTraceProvider.traceEnabled.load(std::memory_order_acquire)) {
                const TraceApi api = activeApi();
                const TRACEHANDLE logger = api.getTraceLoggerHandle(buffer);
                gTraceProvider.loggerHandle = logger;
                gTraceProvider.enableFlags = api.getTraceEnableFlags(logger);
                gTraceProvider.enableLevel = api.getTraceEnableLevel(logger);
                gTraceProvider.traceEnabled.store(true, std::memory_order_release);
            }
            break;
        case WMI_DISABLE_EVENTS:
            gTraceProvider.traceEnabled.store(false, std::memory_order_release);
            break;
        default:
            break;
    }
    return 0;
}

void buildTraceEvent(const wchar_t* logPath, const wchar_t* message, TraceEventRecord& record) {
    std::memset(&record, 0, sizeof record);
    record.header.Size = static_cast<USHORT>(sizeof record);
    record.header.Class.Type = kTraceEventClassType;
    record.header.Guid = kTraceEventClassGuid;
    record.header.Flags = WNODE_FLAG_TRACED_GUID;

    wchar_t upper[kTracePathChars + 1];
    size_t len = 0;
    while (logPath != nullptr && len < kTracePathChars && logPath[len] != L'\0') {
        upper[len] = upperAscii(logPath[len]);
        ++len;
    }
    upper[len] = L'\0';

    size_t baseStart = 0;  // just after the last backslash
    for (size_t i = 0; i < len; ++i) {
        if (upper[i] == L'\\') {
            baseStart = i + 1;
        }
    }
    size_t nameBegin = 0;
    size_t nameEnd = len;
    const wchar_t* lastLog = nullptr;
    for (const wchar_t* p = wcsstr(upper, L".LOG"); p != nullptr; p = wcsstr(p + 1, L".LOG")) {
        lastLog = p;
    }
    if (lastLog != nullptr && static_cast<size_t>(lastLog - upper) > baseStart) {
        nameBegin = baseStart;
        nameEnd = static_cast<size_t>(lastLog - upper);
    }

    size_t used = 0;
    auto put = [&](wchar_t c) {
        if (used < kTraceTextMaxChars) {
            record.text[used++] = c;
        }
    };
    for (size_t i = nameBegin; i < nameEnd; ++i) {
        put(upper[i]);
    }
    put(L':');
    for (const wchar_t* p = message; p != nullptr && *p != L'\0' && used < kTraceTextMaxChars;
         ++p) {
        put(*p);
    }
    record.text[used] = L'\0';
}

bool sendTraceEvent(const wchar_t* logPath, const wchar_t* message) {
    if (!gTraceProvider.traceEnabled.load(std::memory_order_acquire)) {
        return false;
    }
    // On the stack: sending costs no heap, so nothing here can fail for want of memory.
    TraceEventRecord record;
    buildTraceEvent(logPath, message, record);
    activeApi().traceEvent(gTraceProvider.loggerHandle, &record.header);
    return true;
}
