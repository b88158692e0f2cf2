// A migration run from folders that ordinary users could write to: a library planted there
// under the name of any library the tool's process could load is never loaded by the tool.
// Runs on the 64-bit prefix and on the 32-bit one (where the filter driver step loads
// userenv.dll at run time).
#include <gtest/gtest.h>
#include <shlobj.h>

#include "host_fixture.h"
#include "stored_form.h"

using host::HostTest;

namespace {

// Not on the KnownDLLs list of Windows 7 and later, and loadable by the tool's process: the
// libraries it used to import or loads at run time (userenv), their dependencies (profapi),
// what Wine's own system libraries load in it (version, ucrtbase, combase, win32u, zlib1,
// kernelbase), and names commonly planted against installers.
// Not planted: shcore.dll. Wine resolves the imports of its own shlwapi before wmain with the
// application folder in the search, where Windows takes a KnownDLL's dependencies from the
// system folder only; no setting inside the process can change that.
const wchar_t* const kPlantedNames[] = {
    L"userenv.dll",  L"version.dll",  L"profapi.dll",    L"ucrtbase.dll",  L"combase.dll",
    L"win32u.dll",   L"zlib1.dll",    L"kernelbase.dll", L"cryptbase.dll", L"sspicli.dll",
    L"secur32.dll",  L"ntmarta.dll",  L"dwmapi.dll",     L"uxtheme.dll",   L"propsys.dll",
    L"winmm.dll",    L"dbghelp.dll",  L"apphelp.dll",    L"cryptsp.dll",   L"wtsapi32.dll",
    L"netapi32.dll", L"iphlpapi.dll", L"mpr.dll",        L"bcrypt.dll",    L"crypt32.dll",
    L"comctl32.dll", L"oleacc.dll",   L"cfgmgr32.dll",   L"powrprof.dll",  L"wevtapi.dll",
};

std::wstring commonStartup() {
    wchar_t path[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_COMMON_STARTUP, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

class PlantedLibraryTest : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        startupLink_ = commonStartup() + L"\\Tarvos Server Agent.lnk";
        DeleteFileW(startupLink_.c_str());
        // An old-agent host whose policy wants the local UI: drivers, services, COM shortcuts.
        for (const wchar_t* arch : {L"x86", L"x64"}) {
            host::makeDirs(install + L"\\NetInstall\\" + arch);
            host::makeDirs(install + L"\\IfsInstall\\" + arch);
            host::installFake(L"fake_installer.exe",
                              install + L"\\NetInstall\\" + arch + L"\\NetInst.exe");
            host::installFake(L"fake_installer.exe",
                              install + L"\\IfsInstall\\" + arch + L"\\IfsInst.exe");
        }
        host::writeFile(install + L"\\personality.ini",
                        "[Runtime]\r\nPersonality=desktop\r\nProductName=Tarvos Desktop\r\n"
                        "RegistryKey=SOFTWARE\\QSX\\Tarvos Desktop\r\n");
        host::installFake(L"fake_service.exe", tool + L"\\glacis.exe", "exit 0");
        host::writeFile(install + L"\\policy.xml",
                        testsupport::encipher(std::string(
                            "<Policy Name=\"Default\" IncludeLocalGUI='true'>\r\n</Policy>\r\n")));
        registerGlacis();
        host::installFake(L"fake_service.exe", install + L"\\thService.exe");

        for (const std::wstring& folder : {tool, work}) {
            for (const wchar_t* name : kPlantedNames) {
                ASSERT_TRUE(CopyFileW((host::binDir() + L"\\planted.dll").c_str(),
                                      (folder + L"\\" + name).c_str(), FALSE));
            }
        }
    }
    void TearDown() override {
        DeleteFileW(startupLink_.c_str());
        host::removeTree(L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\QSX");
        HostTest::TearDown();
    }
    // "planted copy <TAB> program" for every load of a planted copy by `program`.
    std::vector<std::string> loadsBy(const std::string& program) {
        std::vector<std::string> loads;
        for (const std::wstring& folder : {tool, work}) {
            for (const wchar_t* name : kPlantedNames) {
                std::string text = host::readFile(folder + L"\\" + name + L".loaded");
                size_t start = 0;
                for (size_t end; (end = text.find('\n', start)) != std::string::npos;
                     start = end + 1) {
                    std::string line = text.substr(start, end - start);
                    if (line.size() >= program.size() &&
                        _stricmp(line.c_str() + line.size() - program.size(), program.c_str()) == 0)
                        loads.push_back(line);
                }
            }
        }
        return loads;
    }
    std::wstring startupLink_;
};

}  // namespace

TEST_F(PlantedLibraryTest, MigrationLoadsNoLibraryFromTheToolOrWorkingFolder) {
    // The planted copies do record a load: this test process loads one on purpose.
    HMODULE probe = LoadLibraryW((work + L"\\wevtapi.dll").c_str());
    ASSERT_NE(probe, nullptr);
    FreeLibrary(probe);
    ASSERT_EQ(loadsBy("planted_library_host.exe").size(), 1u);

    auto result = runRelocator();

    EXPECT_EQ(loadsBy(host::utf8(tool) + "\\Relocator.exe"), std::vector<std::string>{});
    // The whole migration ran, shell links and COM included.
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_TRUE(host::waitForState(L"KLOTarvos", SERVICE_RUNNING, 10000));
    EXPECT_TRUE(host::exists(install + L"\\glacis.exe"));
    EXPECT_TRUE(host::exists(startupLink_));
    // The installers are there, the filter library's package is not.
    expectReport("migration", "follow-up", host::ReportExit::Exact, "filter-library-not-copied");
}
