// Windows Server 2008 is told by the version record; the update skips it. The probe program
// runs under a per-program Wine version, chosen by the name it is copied to.
#include <gtest/gtest.h>

#include "driver_host.h"
#include "drivers/network_driver.h"

using namespace drvtest;

namespace {

OSVERSIONINFOEXW record(DWORD platform, DWORD major, DWORD minor, BYTE productType) {
    OSVERSIONINFOEXW v = {};
    v.dwOSVersionInfoSize = sizeof(v);
    v.dwPlatformId = platform;
    v.dwMajorVersion = major;
    v.dwMinorVersion = minor;
    v.wProductType = productType;
    return v;
}

}  // namespace

TEST(IsLongHornServer, DecidedOnTheVersionRecord) {
    const DWORD nt = VER_PLATFORM_WIN32_NT;
    EXPECT_TRUE(IsLongHornServer(record(nt, 6, 0, VER_NT_SERVER)));
    EXPECT_TRUE(IsLongHornServer(record(nt, 6, 0, VER_NT_DOMAIN_CONTROLLER)));
    // The basic record carries no product type: zero is not a workstation.
    EXPECT_TRUE(IsLongHornServer(record(nt, 6, 0, 0)));
    EXPECT_FALSE(IsLongHornServer(record(nt, 6, 0, VER_NT_WORKSTATION)));  // Vista
    EXPECT_FALSE(IsLongHornServer(record(nt, 5, 2, VER_NT_SERVER)));       // Server 2003
    EXPECT_FALSE(IsLongHornServer(record(nt, 6, 1, VER_NT_SERVER)));       // Server 2008 R2
    EXPECT_FALSE(IsLongHornServer(record(nt, 10, 0, VER_NT_SERVER)));
    EXPECT_FALSE(IsLongHornServer(record(VER_PLATFORM_WIN32_WINDOWS, 6, 0, VER_NT_SERVER)));
}

TEST(IsLongHornServer, TheDefaultPrefixIsNotServer2008) {
    // Wine's default version is Windows 7 SP1, workstation.
    OSVERSIONINFOEXW v = {};
    v.dwOSVersionInfoSize = sizeof(v);
    ASSERT_TRUE(GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&v)));
    EXPECT_EQ(IsLongHornServer(), IsLongHornServer(v));
    EXPECT_FALSE(IsLongHornServer());
}

namespace {

struct ProbeRun {
    bool longHorn = false;
    DWORD elapsed = 0;
    DWORD exitCode = 0;
};

class WindowsVersions : public DriverHost {
  protected:
    void TearDown() override {
        for (const std::wstring& name : named_) {
            RegDeleteTreeW(HKEY_CURRENT_USER, (L"Software\\Wine\\AppDefaults\\" + name).c_str());
        }
        DriverHost::TearDown();
    }
    // Copies the probe to <name>, gives that name the Wine version, runs it on kInstall.
    ProbeRun runAs(const std::wstring& name, const wchar_t* version) {
        named_.push_back(name);
        HKEY key = nullptr;
        std::wstring path = L"Software\\Wine\\AppDefaults\\" + name;
        EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                       static_cast<DWORD>((wcslen(version) + 1) * sizeof(wchar_t)));
        RegCloseKey(key);

        std::wstring probe = kBase + L"\\" + name;
        EXPECT_TRUE(
            CopyFileW((host::binDir() + L"\\driver_probe.exe").c_str(), probe.c_str(), FALSE));
        // The probe's own log; the fixture's logger stays empty.
        std::wstring log = kBase + L"\\" + name + L".log";
        host::RunResult result =
            host::run(L"\"" + probe + L"\" \"" + kInstall + L"\" \"" + log + L"\"", kBase);
        ProbeRun run;
        run.exitCode = result.exitCode;
        run.longHorn = result.output.find("longhorn=1") != std::string::npos;
        size_t at = result.output.find("elapsed=");
        if (at != std::string::npos)
            run.elapsed = std::stoul(result.output.substr(at + 8));
        probeLog_ = host::logRecords(log);
        return run;
    }
    std::vector<std::wstring> named_;
    std::vector<std::string> probeLog_;
};

const std::wstring kNet64 = L"NetInstall\\x64\\NetInst.exe";
const std::wstring kNet86 = L"NetInstall\\x86\\NetInst.exe";

}  // namespace

TEST_F(WindowsVersions, OnServer2008NothingRunsAndThereIsNoPause) {
    installInstaller(kNet64, "0");
    installInstaller(kNet86, "0");
    ProbeRun run = runAs(L"srv2008_probe.exe", L"win2008");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(run.longHorn);
    EXPECT_LT(run.elapsed, 1000u);
    EXPECT_EQ(probeLog_, std::vector<std::string>{
                             "INFO: IsLongHornServer()::returned true...skipping driver update\n"});
    EXPECT_TRUE(runs(kNet64).empty());
    EXPECT_TRUE(runs(kNet86).empty());
}

TEST_F(WindowsVersions, OnVistaAndServer2003TheDriversAreUpdated) {
    // The probe has no personality file: the load fails, and wow64 still picks the x64 tools.
    installInstaller(kNet64, "0");
    installInstaller(kNet86, "0");
    for (auto [name, version] :
         {std::pair<const wchar_t*, const wchar_t*>{L"vista_probe.exe", L"vista"},
          {L"srv2003_probe.exe", L"win2k3"}}) {
        SCOPED_TRACE(utf8(version));
        ProbeRun run = runAs(name, version);
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_FALSE(run.longHorn);
        EXPECT_GE(run.elapsed, 1950u);
        ASSERT_EQ(probeLog_.size(), 3u);
        EXPECT_EQ(probeLog_[2],
                  "INFO: Previous QSXNET uninstallation Returned 0 and latest "
                  "QSXNET Installation Returned 0 \n");
    }
    EXPECT_EQ(runs(kNet64).size(), 4u);
    EXPECT_TRUE(runs(kNet86).empty());
}
