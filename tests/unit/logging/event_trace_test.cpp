#include "logging/event_trace.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// ---- A controller and tracing system played by the test -------------------------------------

struct FakeTracing {
    // RegisterTraceGuidsW
    int registerCalls = 0;
    ULONG registerResult = ERROR_SUCCESS;
    TRACEHANDLE handleToStore = 0;
    WMIDPREQUEST callback = nullptr;
    PVOID context = reinterpret_cast<PVOID>(1);
    GUID controlGuid{};
    ULONG guidCount = 0;
    GUID traceGuid{};
    LPCWSTR mofImagePath = L"unset";
    LPCWSTR mofResourceName = L"unset";
    // UnregisterTraceGuids
    std::vector<TRACEHANDLE> unregistered;
    // GetTraceLoggerHandle / GetTraceEnableFlags / GetTraceEnableLevel
    int loggerHandleCalls = 0;
    PVOID loggerHandleBuffer = nullptr;
    TRACEHANDLE loggerHandle = 0;
    ULONG flags = 0;
    UCHAR level = 0;
    TRACEHANDLE flagsAskedFor = 0;
    TRACEHANDLE levelAskedFor = 0;
    // TraceEvent
    int eventCalls = 0;
    ULONG eventResult = ERROR_SUCCESS;
    TRACEHANDLE eventHandle = 0;
    std::vector<uint8_t> eventBytes;
};

FakeTracing fake;

ULONG WINAPI fakeRegister(WMIDPREQUEST callback,
                          PVOID context,
                          LPCGUID controlGuid,
                          ULONG guidCount,
                          PTRACE_GUID_REGISTRATION traceGuids,
                          LPCWSTR mofImagePath,
                          LPCWSTR mofResourceName,
                          PTRACEHANDLE handle) {
    ++fake.registerCalls;
    fake.callback = callback;
    fake.context = context;
    fake.controlGuid = *controlGuid;
    fake.guidCount = guidCount;
    fake.traceGuid = *traceGuids[0].Guid;
    fake.mofImagePath = mofImagePath;
    fake.mofResourceName = mofResourceName;
    *handle = fake.handleToStore;
    return fake.registerResult;
}

ULONG WINAPI fakeUnregister(TRACEHANDLE handle) {
    fake.unregistered.push_back(handle);
    return ERROR_SUCCESS;
}

TRACEHANDLE WINAPI fakeLoggerHandle(PVOID buffer) {
    ++fake.loggerHandleCalls;
    fake.loggerHandleBuffer = buffer;
    return fake.loggerHandle;
}

ULONG WINAPI fakeFlags(TRACEHANDLE handle) {
    fake.flagsAskedFor = handle;
    return fake.flags;
}

UCHAR WINAPI fakeLevel(TRACEHANDLE handle) {
    fake.levelAskedFor = handle;
    return fake.level;
}

ULONG WINAPI fakeTraceEvent(TRACEHANDLE handle, PEVENT_TRACE_HEADER header) {
    ++fake.eventCalls;
    fake.eventHandle = handle;
    const auto* bytes = reinterpret_cast<const uint8_t*>(header);
    fake.eventBytes.assign(bytes, bytes + header->Size);
    return fake.eventResult;
}

const TraceApi kFakeApi = {&fakeRegister, &fakeUnregister, &fakeLoggerHandle,
                           &fakeFlags,    &fakeLevel,      &fakeTraceEvent};

void resetProviderState() {
    gTraceProvider.registrationHandle = 0;
    gTraceProvider.traceEnabled.store(false);
    gTraceProvider.loggerHandle = 0;
    gTraceProvider.enableFlags = 0;
    gTraceProvider.enableLevel = 0;
}

class TraceWithFakeSystem : public ::testing::Test {
  protected:
    void SetUp() override {
        fake = FakeTracing{};
        resetProviderState();
        previous_ = setTraceApiForTest(kFakeApi);
    }
    void TearDown() override {
        setTraceApiForTest(previous_);
        resetProviderState();
    }

  private:
    TraceApi previous_{};
};

class TraceWithSystem : public ::testing::Test {
  protected:
    void SetUp() override {
        resetProviderState();
        setTraceApiForTest(systemTraceApi());
    }
    void TearDown() override {
        unregisterTraceProvider();
        resetProviderState();
    }
};

// ---- The event record -----------------------------------------------------------------------

std::vector<uint8_t> recordBytes(const wchar_t* path, const wchar_t* message) {
    TraceEventRecord record;
    std::memset(&record, 0xCC, sizeof record);  // every byte must be set by the builder
    buildTraceEvent(path, message, record);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
    return std::vector<uint8_t>(bytes, bytes + sizeof record);
}

std::wstring recordText(const std::vector<uint8_t>& bytes) {
    std::wstring text;
    for (size_t i = 48; i + 1 < bytes.size(); i += 2) {
        const wchar_t c = static_cast<wchar_t>(bytes[i] | (bytes[i + 1] << 8));
        if (c == L'\0') {
            break;
        }
        text += c;
    }
    return text;
}

// Bytes after the text's terminator up to the end of the record are all zero.
bool zeroAfterText(const std::vector<uint8_t>& bytes) {
    const size_t end = 48 + 2 * (recordText(bytes).size() + 1);
    for (size_t i = end - 2; i < bytes.size(); ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    return true;
}

std::wstring textFor(const wchar_t* path, const wchar_t* message) {
    return recordText(recordBytes(path, message));
}

TEST(TraceEventRecord, HeaderBytesFollowThePublishedLayout) {
    const std::vector<uint8_t> b = recordBytes(L"C:\\windows\\Relocator.log", L"hello\n");
    ASSERT_EQ(b.size(), 560u);
    EXPECT_EQ(b[0], 0x30);  // 560 = 0x0230, little-endian
    EXPECT_EQ(b[1], 0x02);
    EXPECT_EQ(b[4], 1);  // class type
    const uint8_t guid[16] = {0xe0, 0x0e, 0xba, 0x9d, 0x27, 0x87, 0xb3, 0x43,
                              0xbd, 0x30, 0x3c, 0x53, 0x39, 0x8a, 0xeb, 0x02};
    EXPECT_EQ(std::memcmp(&b[24], guid, 16), 0);
    EXPECT_EQ(b[44], 0x00);  // WNODE_FLAG_TRACED_GUID = 0x00020000
    EXPECT_EQ(b[45], 0x00);
    EXPECT_EQ(b[46], 0x02);
    EXPECT_EQ(b[47], 0x00);
    for (size_t i : {2u, 3u, 5u, 6u, 7u}) {
        EXPECT_EQ(b[i], 0) << "byte " << i;
    }
    for (size_t i = 8; i < 24; ++i) {
        EXPECT_EQ(b[i], 0) << "byte " << i;
    }
    for (size_t i = 40; i < 44; ++i) {
        EXPECT_EQ(b[i], 0) << "byte " << i;
    }
    EXPECT_EQ(recordText(b), L"RELOCATOR:hello\n");
    EXPECT_TRUE(zeroAfterText(b));
}

TEST(TraceEventRecord, GuidsAreTheProductsOwn) {
    const GUID control = {
        0x9DEE04DD, 0xD6F6, 0x4560, {0xA6, 0x98, 0x2A, 0x97, 0x9B, 0xC4, 0xA7, 0x4A}};
    const GUID eventClass = {
        0x9DBA0EE0, 0x8727, 0x43B3, {0xBD, 0x30, 0x3C, 0x53, 0x39, 0x8A, 0xEB, 0x02}};
    EXPECT_TRUE(IsEqualGUID(kTraceControlGuid, control));
    EXPECT_TRUE(IsEqualGUID(kTraceEventClassGuid, eventClass));
}

TEST(TraceEventRecord, NameIsTheUpperCasedBaseNameBeforeTheLastLog) {
    EXPECT_EQ(textFor(L"C:\\windows\\Relocator.log", L"m"), L"RELOCATOR:m");
    EXPECT_EQ(textFor(L"relocator.Log", L"m"), L"RELOCATOR:m");  // no backslash
    EXPECT_EQ(textFor(L"C:\\x\\a.log.log", L"m"), L"A.LOG:m");   // the last ".LOG"
    EXPECT_EQ(textFor(L"C:\\x\\a.logger.txt", L"m"), L"A:m");    // ".LOG" needs no end
    EXPECT_EQ(textFor(L"C:\\x\\stra\u00dfe-\u00e4.log", L"m"), L"STRA\u00dfE-\u00e4:m");
}

TEST(TraceEventRecord, WithoutABaseNameTheWholePathIsUsed) {
    // No ".LOG" in any case.
    EXPECT_EQ(textFor(L"c:\\temp\\trace.txt", L"m"), L"C:\\TEMP\\TRACE.TXT:m");
    // ".LOG" only before the last backslash.
    EXPECT_EQ(textFor(L"C:\\logs.log\\file", L"m"), L"C:\\LOGS.LOG\\FILE:m");
    // ".LOG" right after the last backslash leaves no base name.
    EXPECT_EQ(textFor(L"C:\\dir\\.log", L"m"), L"C:\\DIR\\.LOG:m");
    EXPECT_EQ(textFor(L".log", L"m"), L".LOG:m");
    EXPECT_EQ(textFor(L"", L"m"), L":m");
    EXPECT_EQ(textFor(nullptr, L"m"), L":m");
    EXPECT_EQ(textFor(L"C:\\windows\\Relocator.log", nullptr), L"RELOCATOR:");
}

TEST(TraceEventRecord, LongTextIsCutTo254Characters) {
    const std::wstring message(300, L'm');
    const std::vector<uint8_t> b = recordBytes(L"C:\\windows\\Relocator.log", message.c_str());
    EXPECT_EQ(recordText(b), L"RELOCATOR:" + std::wstring(244, L'm'));
    EXPECT_EQ(b[48 + 2 * 254], 0);
    EXPECT_EQ(b[48 + 2 * 254 + 1], 0);
    EXPECT_TRUE(zeroAfterText(b));

    // Exactly 254 characters are kept whole.
    const std::wstring fits(244, L'k');
    EXPECT_EQ(textFor(L"C:\\windows\\Relocator.log", fits.c_str()), L"RELOCATOR:" + fits);

    // A path longer than the room leaves no room for the colon.
    const std::wstring path = L"C:\\" + std::wstring(300, L'p');
    EXPECT_EQ(textFor(path.c_str(), L"m"), (L"C:\\" + std::wstring(251, L'P')));
}

// ---- Control callback -----------------------------------------------------------------------

TEST_F(TraceWithFakeSystem, EnableOnceThenDisable) {
    WNODE_HEADER request{};
    fake.loggerHandle = 0x1122334455667788ull;
    fake.flags = 0xF00D;
    fake.level = 5;
    EXPECT_EQ(traceControlCallback(WMI_ENABLE_EVENTS, nullptr, nullptr, &request), 0u);
    EXPECT_TRUE(gTraceProvider.traceEnabled.load());
    EXPECT_EQ(gTraceProvider.loggerHandle, 0x1122334455667788ull);
    EXPECT_EQ(gTraceProvider.enableFlags, 0xF00Du);
    EXPECT_EQ(gTraceProvider.enableLevel, 5);
    EXPECT_EQ(fake.loggerHandleBuffer, &request);
    EXPECT_EQ(fake.flagsAskedFor, 0x1122334455667788ull);
    EXPECT_EQ(fake.levelAskedFor, 0x1122334455667788ull);

    // A second enable request while enabled changes nothing.
    fake.loggerHandle = 99;
    fake.flags = 1;
    fake.level = 1;
    EXPECT_EQ(traceControlCallback(WMI_ENABLE_EVENTS, nullptr, nullptr, &request), 0u);
    EXPECT_EQ(fake.loggerHandleCalls, 1);
    EXPECT_EQ(gTraceProvider.loggerHandle, 0x1122334455667788ull);
    EXPECT_EQ(gTraceProvider.enableFlags, 0xF00Du);
    EXPECT_EQ(gTraceProvider.enableLevel, 5);

    EXPECT_EQ(traceControlCallback(WMI_DISABLE_EVENTS, nullptr, nullptr, &request), 0u);
    EXPECT_FALSE(gTraceProvider.traceEnabled.load());

    // Enabled again: the new request's handle is taken.
    EXPECT_EQ(traceControlCallback(WMI_ENABLE_EVENTS, nullptr, nullptr, &request), 0u);
    EXPECT_TRUE(gTraceProvider.traceEnabled.load());
    EXPECT_EQ(gTraceProvider.loggerHandle, 99u);
    EXPECT_EQ(fake.loggerHandleCalls, 2);
}

TEST_F(TraceWithFakeSystem, OtherRequestsChangeNothing) {
    WNODE_HEADER request{};
    for (WMIDPREQUESTCODE code :
         {WMI_GET_ALL_DATA, WMI_GET_SINGLE_INSTANCE, WMI_SET_SINGLE_INSTANCE, WMI_ENABLE_COLLECTION,
          WMI_DISABLE_COLLECTION, WMI_EXECUTE_METHOD}) {
        EXPECT_EQ(traceControlCallback(code, nullptr, nullptr, &request), 0u) << code;
        EXPECT_FALSE(gTraceProvider.traceEnabled.load()) << code;
    }
    gTraceProvider.traceEnabled.store(true);
    EXPECT_EQ(traceControlCallback(WMI_DISABLE_COLLECTION, nullptr, nullptr, &request), 0u);
    EXPECT_TRUE(gTraceProvider.traceEnabled.load());
    EXPECT_EQ(fake.loggerHandleCalls, 0);
}

// ---- Registration ---------------------------------------------------------------------------

TEST_F(TraceWithFakeSystem, RegistersOnceWithTheProvidersGuids) {
    fake.handleToStore = 0xABCD;
    EXPECT_EQ(registerTraceProvider(), 0u);
    EXPECT_EQ(gTraceProvider.registrationHandle, 0xABCDu);
    EXPECT_EQ(fake.callback, &traceControlCallback);
    EXPECT_EQ(fake.context, nullptr);
    EXPECT_TRUE(IsEqualGUID(fake.controlGuid, kTraceControlGuid));
    EXPECT_EQ(fake.guidCount, 1u);
    EXPECT_TRUE(IsEqualGUID(fake.traceGuid, kTraceEventClassGuid));
    EXPECT_EQ(fake.mofImagePath, nullptr);
    EXPECT_EQ(fake.mofResourceName, nullptr);

    // A logger opened a second time with TRACE registers nothing more.
    EXPECT_EQ(registerTraceProvider(), 0u);
    EXPECT_EQ(fake.registerCalls, 1);

    gTraceProvider.traceEnabled.store(true);
    unregisterTraceProvider();
    EXPECT_FALSE(gTraceProvider.traceEnabled.load());
    EXPECT_EQ(gTraceProvider.registrationHandle, 0u);
    ASSERT_EQ(fake.unregistered.size(), 1u);
    EXPECT_EQ(fake.unregistered[0], 0xABCDu);

    // Nothing registered: only the flag is cleared.
    gTraceProvider.traceEnabled.store(true);
    unregisterTraceProvider();
    EXPECT_FALSE(gTraceProvider.traceEnabled.load());
    EXPECT_EQ(fake.unregistered.size(), 1u);
}

TEST_F(TraceWithFakeSystem, FailedRegistrationIsUndone) {
    fake.registerResult = ERROR_ACCESS_DENIED;
    fake.handleToStore = 77;
    EXPECT_EQ(registerTraceProvider(), static_cast<ULONG>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(gTraceProvider.registrationHandle, 0u);
    ASSERT_EQ(fake.unregistered.size(), 1u);
    EXPECT_EQ(fake.unregistered[0], 77u);

    // Without a stored handle there is nothing to unregister; a later call tries again.
    fake.handleToStore = 0;
    fake.registerResult = ERROR_NOT_ENOUGH_MEMORY;
    EXPECT_EQ(registerTraceProvider(), static_cast<ULONG>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(fake.unregistered.size(), 1u);
    EXPECT_EQ(fake.registerCalls, 2);
}

// ---- Sending --------------------------------------------------------------------------------

TEST_F(TraceWithFakeSystem, SendsOnlyWhileEnabled) {
    EXPECT_FALSE(sendTraceEvent(L"C:\\windows\\Relocator.log", L"quiet\n"));
    EXPECT_EQ(fake.eventCalls, 0);

    WNODE_HEADER request{};
    fake.loggerHandle = 4242;
    traceControlCallback(WMI_ENABLE_EVENTS, nullptr, nullptr, &request);
    EXPECT_TRUE(sendTraceEvent(L"C:\\windows\\Relocator.log", L"loud\n"));
    ASSERT_EQ(fake.eventCalls, 1);
    EXPECT_EQ(fake.eventHandle, 4242u);
    EXPECT_EQ(fake.eventBytes, recordBytes(L"C:\\windows\\Relocator.log", L"loud\n"));

    // A failing TraceEvent is not the logger's concern.
    fake.eventResult = ERROR_INVALID_HANDLE;
    EXPECT_TRUE(sendTraceEvent(L"C:\\windows\\Relocator.log", L"again\n"));
    EXPECT_EQ(fake.eventCalls, 2);

    traceControlCallback(WMI_DISABLE_EVENTS, nullptr, nullptr, &request);
    EXPECT_FALSE(sendTraceEvent(L"C:\\windows\\Relocator.log", L"quiet again\n"));
    EXPECT_EQ(fake.eventCalls, 2);
}

// ---- The system's own calls (Wine registers but never enables) -------------------------------

TEST_F(TraceWithSystem, RegistersAndUnregistersWithTheSystem) {
    ASSERT_EQ(registerTraceProvider(), 0u);
    const TRACEHANDLE handle = gTraceProvider.registrationHandle;
    EXPECT_NE(handle, 0u);
    EXPECT_EQ(registerTraceProvider(), 0u);
    EXPECT_EQ(gTraceProvider.registrationHandle, handle);
    // No controller has enabled the provider.
    EXPECT_FALSE(gTraceProvider.traceEnabled.load());
    EXPECT_FALSE(sendTraceEvent(L"C:\\windows\\Relocator.log", L"nobody listens\n"));
    unregisterTraceProvider();
    EXPECT_EQ(gTraceProvider.registrationHandle, 0u);
}

TEST_F(TraceWithSystem, CallbackTakesTheSystemsAnswers) {
    WNODE_HEADER request{};
    request.BufferSize = sizeof request;
    request.HistoricalContext = 0x0000000100000002ull;
    // Whatever this platform reads from the request, the callback must store the same.
    const TRACEHANDLE expected = GetTraceLoggerHandle(&request);
    const ULONG expectedFlags = GetTraceEnableFlags(expected);
    const UCHAR expectedLevel = GetTraceEnableLevel(expected);
    ULONG size = sizeof request;
    EXPECT_EQ(traceControlCallback(WMI_ENABLE_EVENTS, nullptr, &size, &request), 0u);
    EXPECT_TRUE(gTraceProvider.traceEnabled.load());
    EXPECT_EQ(gTraceProvider.loggerHandle, expected);
    EXPECT_EQ(gTraceProvider.enableFlags, expectedFlags);
    EXPECT_EQ(gTraceProvider.enableLevel, expectedLevel);
    // Sending on that handle reaches TraceEvent, whose answer is ignored.
    EXPECT_TRUE(sendTraceEvent(L"C:\\windows\\Relocator.log", L"to the system\n"));
    EXPECT_EQ(traceControlCallback(WMI_DISABLE_EVENTS, nullptr, &size, &request), 0u);
    EXPECT_FALSE(gTraceProvider.traceEnabled.load());
}

}  // namespace
