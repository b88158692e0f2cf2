// Event-trace output of the logger: the process registers as one trace provider, and while a
// trace controller has it enabled every logged message is also sent as one event.
//
// The provider state is process-wide. The control callback runs on a thread of the tracing
// system and the logger reads the state without a lock: traceEnabled is atomic and is set only
// after the logger handle, so a reader that sees it set also sees the handle of that request.
#pragma once

#include <windows.h>

// Relies on <windows.h> having come first; brings <wmistr.h> along.
#include <evntrace.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

// {9DEE04DD-D6F6-4560-A698-2A979BC4A74A}: the provider a controller enables.
extern const GUID kTraceControlGuid;
// {9DBA0EE0-8727-43B3-BD30-3C53398AEB02}: the one trace GUID, carried by every event.
extern const GUID kTraceEventClassGuid;

struct TraceProviderState {
    TRACEHANDLE registrationHandle = 0;  // 0 when not registered
    std::atomic<bool> traceEnabled{false};
    TRACEHANDLE loggerHandle = 0;  // from the last enable request
    ULONG enableFlags = 0;
    UCHAR enableLevel = 0;
};

extern TraceProviderState gTraceProvider;

// Registers the provider unless it is registered already; 0 or the Win32 error of
// RegisterTraceGuidsW. A failed registration is undone: the handle is 0 afterwards.
ULONG registerTraceProvider();

// Clears traceEnabled and ends the registration if there is one.
void unregisterTraceProvider();

// The control callback handed to RegisterTraceGuidsW: request 4 (WMI_ENABLE_EVENTS) enables
// the provider once and takes the logger handle, flags and level from the request's buffer;
// request 5 (WMI_DISABLE_EVENTS) disables it; any other request is ignored. Always 0.
ULONG WINAPI traceControlCallback(WMIDPREQUESTCODE requestCode,
                                  PVOID context,
                                  ULONG* bufferSize,
                                  PVOID buffer);

// One event as TraceEvent takes it: the published header, then the text.
constexpr size_t kTraceEventBytes = 560;
constexpr size_t kTraceTextChars = 256;     // room of the data area
constexpr size_t kTraceTextMaxChars = 254;  // characters sent, before the terminator
// Class type of every event. The event layout fixes it at 1, although the SDK's
// EVENT_TRACE_TYPE_INFO is 0 (1 is EVENT_TRACE_TYPE_START): consumers decode by this value.
constexpr UCHAR kTraceEventClassType = 1;
// Longest log path taken into account (the logger keeps no longer one).
constexpr size_t kTracePathChars = 260;

struct TraceEventRecord {
    EVENT_TRACE_HEADER header;
    wchar_t text[kTraceTextChars];
};
static_assert(sizeof(TraceEventRecord) == kTraceEventBytes, "event record is 560 bytes");
static_assert(offsetof(TraceEventRecord, text) == 48, "text follows the 48-byte header");

// Fills the record for one message of the log at logPath: all zero, then size 560, class type
// kTraceEventClassType, the event class GUID, WNODE_FLAG_TRACED_GUID, and the text
// "<NAME>:<message>" cut to 254 characters. NAME is the upper-cased base name between the
// last backslash and the last ".LOG", or the whole upper-cased path when there is no such
// ".LOG". A null path or message counts as empty.
void buildTraceEvent(const wchar_t* logPath, const wchar_t* message, TraceEventRecord& record);

// Sends the message as one event when a controller has the provider enabled; otherwise does
// nothing. Failures of TraceEvent are ignored. True when an event was handed to TraceEvent.
bool sendTraceEvent(const wchar_t* logPath, const wchar_t* message);

// The system calls behind this component, replaceable so that tests can play the controller
// and the tracing system (Wine registers providers but never enables them).
struct TraceApi {
    ULONG(WINAPI* registerTraceGuids)
    (WMIDPREQUEST, PVOID, LPCGUID, ULONG, PTRACE_GUID_REGISTRATION, LPCWSTR, LPCWSTR, PTRACEHANDLE);
    ULONG(WINAPI* unregisterTraceGuids)(TRACEHANDLE);
    TRACEHANDLE(WINAPI* getTraceLoggerHandle)(PVOID);
    ULONG(WINAPI* getTraceEnableFlags)(TRACEHANDLE);
    UCHAR(WINAPI* getTraceEnableLevel)(TRACEHANDLE);
    ULONG(WINAPI* traceEvent)(TRACEHANDLE, PEVENT_TRACE_HEADER);
};

// The system's own calls.
TraceApi systemTraceApi();
// Replaces the calls used from now on and returns the previous set (tests only).
TraceApi setTraceApiForTest(const TraceApi& api);
