// The host of a typical migration, as a deployment meets it: old agent with its services, the
// new agent's files, installers and driver package in the installation folder, a personality
// and a policy; shared by the scenarios that run the whole job.
#pragma once

#include <gtest/gtest.h>

#include "host_fixture.h"
#include "stored_form.h"

namespace host {

inline const std::wstring kPrograms = L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
inline const std::wstring kMenuLink = kPrograms + L"\\QSX\\Tarvos Server\\Tarvos Server Agent.lnk";
inline const std::wstring kStartupLink = kPrograms + L"\\StartUp\\Tarvos Server Agent.lnk";
inline const std::wstring kReadmeLink = kPrograms + L"\\QSX\\Tarvos Server\\Tarvos Readme.lnk";

// The Windows version Wine shows the tool and its preflight (null: Wine's default).
inline void setWineVersion(const wchar_t* version) {
    for (const wchar_t* path : {L"Software\\Wine\\AppDefaults\\Relocator.exe",
                                L"Software\\Wine\\AppDefaults\\relocator-check.exe"}) {
        if (!version) {
            RegDeleteTreeW(HKEY_CURRENT_USER, path);
            continue;
        }
        HKEY key = nullptr;
        RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
        RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                       static_cast<DWORD>((wcslen(version) + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
}

class TypicalRunTest : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        host::removeTree(kPrograms + L"\\QSX");
        DeleteFileW(kStartupLink.c_str());
        for (const wchar_t* dir : {L"\\NetInstall\\x64", L"\\IfsInstall\\x64", L"\\drivers\\qsxnet",
                                   L"\\drivers\\qsxfltr\\x86\\Win2K3"}) {
            host::makeDirs(install + dir);
        }
        host::installFake(L"fake_installer.exe", netInst());
        host::installFake(L"fake_installer.exe", ifsInst());
        host::writeFile(install + L"\\drivers\\qsxfltr\\x86\\Win2K3\\QsxFFilter.dll", "library");
        host::writeFile(install + L"\\personality.ini",
                        "[Runtime]\r\nPersonality=desktop\r\nProductName=Tarvos Desktop\r\n"
                        "RegistryKey=SOFTWARE\\QSX\\Tarvos Desktop\r\n");
        host::setString(L"SOFTWARE\\QSX\\HostAgent", L"InstallDir", install);
        host::installFake(L"fake_service.exe", tool + L"\\glacis.exe", "exit 0");
        host::writeFile(install + L"\\readme.htm", "<html></html>");
    }
    void TearDown() override {
        if (keepHost_)
            return;
        setWineVersion(nullptr);
        host::removeTree(kPrograms + L"\\QSX");
        DeleteFileW(kStartupLink.c_str());
        host::deleteKey(L"SOFTWARE\\QSX\\HostAgent");
        HostTest::TearDown();
    }
    std::wstring netInst() const { return install + L"\\NetInstall\\x64\\NetInst.exe"; }
    std::wstring ifsInst() const { return install + L"\\IfsInstall\\x64\\IfsInst.exe"; }

    void oldAgentHost(const std::string& policy) {
        host::installFake(L"fake_service.exe", install + L"\\glacisd.exe");
        ASSERT_EQ(host::createService(L"Glacis", L"\"" + install + L"\\glacisd.exe\""), 0u);
        registerFake(L"HotMend", L"hotmend.exe");
        ASSERT_EQ(host::startService(L"HotMend"), 0u);
        host::installFake(L"fake_service.exe", install + L"\\thService.exe");
        if (!policy.empty())
            host::writeFile(install + L"\\policy.xml", testsupport::encipher(policy));
    }

    Lines driverRecords() const {
        std::string i = host::utf8(install);
        return {
            "INFO: ExecuteCommand: \"" + i + "\\NetInstall\\x64\\NetInst.exe\" -u qsxnet  \n",
            "INFO: ExecuteCommand: \"" + i + "\\NetInstall\\x64\\NetInst.exe\" -i qsxnet \"" + i +
                "\\drivers\\qsxnet\" \n",
            "INFO: Previous QSXNET uninstallation Returned 0 and latest QSXNET Installation "
            "Returned 0 \n",
        };
    }
    std::string runsLine(const std::wstring& exe, const std::wstring& args) const {
        return host::utf8(L"\"" + exe + L"\" " + args + L"\t" + install);
    }
};

inline const char kPolicyTrue[] =
    "<?xml version=\"1.0\"?>\r\n<Policy Name=\"Default\" IncludeLocalGUI='true'>\r\n</Policy>\r\n";
inline const char kPolicyFalse[] =
    "<?xml version=\"1.0\"?>\r\n<Policy Name=\"Default\" IncludeLocalGUI='false'>\r\n</Policy>\r\n";

}  // namespace host
