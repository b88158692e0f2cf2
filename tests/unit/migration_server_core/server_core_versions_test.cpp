// The Server Core test and the OS description on other Windows versions, played by Wine's
// per-program version setting: server_core_probe.exe runs with the version chosen in
// HKCU\Software\Wine\AppDefaults\server_core_probe.exe and reports what it saw.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>
#include "migration/version.h"

namespace {

bool onWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

class ScopedHandle {
  public:
    explicit ScopedHandle(HANDLE h = nullptr) : h_(h) {}
    ~ScopedHandle() {
        if (h_ != nullptr && h_ != INVALID_HANDLE_VALUE) {
            CloseHandle(h_);
        }
    }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    HANDLE get() const { return h_; }

  private:
    HANDLE h_;
};

class ScopedModule {
  public:
    explicit ScopedModule(HMODULE m) : m_(m) {}
    ~ScopedModule() {
        if (m_ != nullptr) {
            FreeLibrary(m_);
        }
    }
    ScopedModule(const ScopedModule&) = delete;
    ScopedModule& operator=(const ScopedModule&) = delete;
    HMODULE get() const { return m_; }

  private:
    HMODULE m_;
};

class ScopedKey {
  public:
    ScopedKey() = default;
    ~ScopedKey() {
        if (k_ != nullptr) {
            RegCloseKey(k_);
        }
    }
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;
    HKEY* receive() { return &k_; }
    HKEY get() const { return k_; }

  private:
    HKEY k_ = nullptr;
};

const wchar_t kProbe[] = L"server_core_probe.exe";
// The probe with the tool's manifest and version resource.
const wchar_t kManifestProbe[] = L"server_core_probe_manifest.exe";

// Sets a program's Windows version for as long as it lives.
class ProbeVersion {
  public:
    ProbeVersion(const wchar_t* program, const wchar_t* winVersion)
        : key_(std::wstring(L"Software\\Wine\\AppDefaults\\") + program) {
        ScopedKey key;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            key.receive(), nullptr) != ERROR_SUCCESS) {
            return;
        }
        const DWORD bytes = static_cast<DWORD>((wcslen(winVersion) + 1) * sizeof(wchar_t));
        set_ = RegSetValueExW(key.get(), L"Version", 0, REG_SZ,
                              reinterpret_cast<const BYTE*>(winVersion), bytes) == ERROR_SUCCESS;
    }
    ~ProbeVersion() { RegDeleteKeyW(HKEY_CURRENT_USER, key_.c_str()); }
    ProbeVersion(const ProbeVersion&) = delete;
    ProbeVersion& operator=(const ProbeVersion&) = delete;
    bool set() const { return set_; }

  private:
    std::wstring key_;
    bool set_ = false;
};

std::wstring besideThisProgram(const wchar_t* name) {
    wchar_t self[MAX_PATH + 1] = L"";
    const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, n);
    return path.substr(0, path.find_last_of(L'\\') + 1) + name;
}

// Runs the probe under the given Wine version and returns its report ("" on failure).
std::wstring probe(const wchar_t* winVersion, const wchar_t* program = kProbe) {
    ProbeVersion version(program, winVersion);
    EXPECT_TRUE(version.set());
    wchar_t temp[MAX_PATH + 1] = L"";
    GetTempPathW(MAX_PATH, temp);
    const std::wstring output = std::wstring(temp) + L"server_core_probe_" +
                                std::to_wstring(GetCurrentProcessId()) + L"_" + winVersion +
                                (program == kProbe ? L"" : L"_m") + L".txt";
    std::wstring commandLine = L"\"" + besideThisProgram(program) + L"\" \"" + output + L"\"";

    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi)) {
        ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
        return L"";
    }
    ScopedHandle process(pi.hProcess);
    ScopedHandle thread(pi.hThread);
    EXPECT_EQ(WaitForSingleObject(process.get(), 60000), WAIT_OBJECT_0);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.get(), &exitCode);
    EXPECT_EQ(exitCode, 0u);

    std::wstring report;
    {
        ScopedHandle file(CreateFileW(output.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.get() == INVALID_HANDLE_VALUE) {
            ADD_FAILURE() << "no report from the probe";
            return L"";
        }
        wchar_t buf[2048];
        DWORD read = 0;
        if (ReadFile(file.get(), buf, sizeof buf, &read, nullptr)) {
            report.assign(buf, read / sizeof(wchar_t));
        }
    }
    DeleteFileW(output.c_str());
    return report;
}

class ServerCoreVersions : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!onWine()) {
            GTEST_SKIP() << "per-program versions are a Wine setting";
        }
    }
};

TEST_F(ServerCoreVersions, FullServer2008IsNotServerCore) {
    // Wine's win2008: 6.0.6002 SP2, a server (type 3) whose GetProductInfo is 7, standard
    // server; a full installation.
    EXPECT_EQ(probe(L"win2008"),
              L"version=6.0.6002 type=3 suite=0x100 version_ok=1\n"
              L"product_info=7 product_info_ok=1\n"
              L"server_core=0\n"
              L"os=Microsoft Windows Server 2008 Standard Edition \"Service Pack 2\" "
              L"(ver 6.0 build 6002)\n");
}

TEST_F(ServerCoreVersions, VistaIsNotServerCore) {
    // Wine's vista: a workstation (type 1), so the test says no before the product type
    // matters (Wine's GetProductInfo answers 28 there). Edition by the suite bits alone.
    EXPECT_EQ(probe(L"vista"),
              L"version=6.0.6002 type=1 suite=0x100 version_ok=1\n"
              L"product_info=28 product_info_ok=1\n"
              L"server_core=0\n"
              L"os=Microsoft Windows Vista Standard Edition \"Service Pack 2\" "
              L"(ver 6.0 build 6002)\n");
}

TEST_F(ServerCoreVersions, Server2003IsNotServerCore) {
    // Wine's win2k3: 5.2.3790 SP2 server; GetProductInfo refuses versions before 6.
    EXPECT_EQ(probe(L"win2k3"),
              L"version=5.2.3790 type=3 suite=0x100 version_ok=1\n"
              L"product_info=0 product_info_ok=0\n"
              L"server_core=0\n"
              L"os=Microsoft Windows Server 2003 Standard Edition \"Service Pack 2\" "
              L"(ver 5.2 build 3790)\n");
}

TEST_F(ServerCoreVersions, ManifestLetsWindows10ShowItsVersion) {
    // Without a manifest that declares Windows 10, Wine's win10 reports 6.2.9200 (as Windows
    // does); with the tool's manifest it reports the real 10.0.18362.
    // requireAdministrator does not stop the start on Wine.
    EXPECT_EQ(probe(L"win10"),
              L"version=6.2.9200 type=1 suite=0x100 version_ok=1\n"
              L"product_info=28 product_info_ok=1\n"
              L"server_core=0\n"
              L"os=Microsoft Windows NT 6.2  \"\" (ver 6.2 build 9200)\n");
    EXPECT_EQ(probe(L"win10", kManifestProbe),
              L"version=10.0.18362 type=1 suite=0x100 version_ok=1\n"
              L"product_info=28 product_info_ok=1\n"
              L"server_core=0\n"
              L"os=Microsoft Windows NT 10.0  \"\" (ver 10.0 build 18362)\n");
}

std::string host_utf8(const wchar_t* text) {
    char out[512] = {};
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof out - 1, nullptr, nullptr);
    return out;
}

std::wstring versionString(const std::vector<BYTE>& info, const wchar_t* name) {
    void* value = nullptr;
    UINT chars = 0;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueW(info.data(), query.c_str(), &value, &chars) || value == nullptr) {
        return L"(missing)";
    }
    return static_cast<const wchar_t*>(value);
}

// The three programs that ship, with what a software inventory reads of each and the
// execution level their manifest asks for.
struct Shipped {
    const wchar_t* file;
    const wchar_t* description;
    const char* level;
};
const Shipped kShipped[] = {
    {L"Relocator.exe", L"Relocator - agent migration tool", "requireAdministrator"},
    {L"relocator-check.exe", L"Relocator preflight - what Relocator.exe would do on this host",
     "asInvoker"},
    {L"relocator-report.exe", L"Relocator fleet report over collected logs", "asInvoker"},
};

TEST(RelocatorResources, VersionResourcesNameEachProgram) {
    for (const Shipped& program : kShipped) {
        SCOPED_TRACE(host_utf8(program.file));
        const std::wstring path = besideThisProgram(program.file);
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
        ASSERT_NE(size, 0u) << GetLastError();
        std::vector<BYTE> info(size);
        ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));

        EXPECT_EQ(versionString(info, L"CompanyName"), L"QSX");
        EXPECT_EQ(versionString(info, L"ProductName"), L"Relocator");
        EXPECT_EQ(versionString(info, L"FileDescription"), program.description);
        EXPECT_EQ(versionString(info, L"FileVersion"), L"" RELOCATOR_FILE_VERSION_TEXT);
        EXPECT_EQ(versionString(info, L"ProductVersion"), L"" RELOCATOR_FILE_VERSION_TEXT);
        EXPECT_EQ(versionString(info, L"OriginalFilename"), program.file);

        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT bytes = 0;
        ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &bytes));
        ASSERT_NE(fixed, nullptr);
        EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
        EXPECT_EQ(fixed->dwFileVersionMS,
                  static_cast<DWORD>(RELOCATOR_VERSION_MAJOR << 16 | RELOCATOR_VERSION_MINOR));
        EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(RELOCATOR_VERSION_PATCH << 16));
        EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
    }
}

TEST(RelocatorResources, ManifestsAreTheProcessManifests) {
    for (const Shipped& program : kShipped) {
        SCOPED_TRACE(host_utf8(program.file));
        ScopedModule module(LoadLibraryExW(besideThisProgram(program.file).c_str(), nullptr,
                                           LOAD_LIBRARY_AS_DATAFILE));
        ASSERT_NE(module.get(), nullptr);
        // Resource 1 of type RT_MANIFEST (24): the manifest Windows applies to the process.
        HRSRC res = FindResourceW(module.get(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
        ASSERT_NE(res, nullptr);
        const DWORD size = SizeofResource(module.get(), res);
        const char* text = static_cast<const char*>(LockResource(LoadResource(module.get(), res)));
        ASSERT_NE(text, nullptr);
        const std::string manifest(text, size);
        EXPECT_NE(manifest.find(std::string("level=\"") + program.level + "\""),
                  std::string::npos);
        for (const char* os : {"e2011457-1546-43c5-a5fe-008deee3d3f0",     // Vista
                               "35138b9a-5d96-4fbd-8e2d-a2440225f93a",     // 7
                               "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",     // 8
                               "1f676c76-80e1-4239-95bb-83d0f6d0da78",     // 8.1
                               "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"}) {  // 10, 11
            EXPECT_NE(manifest.find(std::string("<supportedOS Id=\"{") + os + "}\"/>"),
                      std::string::npos)
                << os;
        }
    }
}

}  // namespace
