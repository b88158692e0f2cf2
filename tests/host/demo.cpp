// Rehearsal of a typical migration on a simulated old-agent host: prints the host before, what
// the preflight relocator-check says the run will do, runs Relocator.exe, prints its log and the
// host afterwards.
#include <cstdio>
#include <string>

#include "stored_form.h"
#include "host_support.h"

namespace {

const std::wstring kInstall = L"C:\\Program Files (x86)\\QSX\\Tarvos Desktop";
const std::wstring kTool = L"C:\\Deploy\\Relocator";

void showHost(const char* title) {
    wprintf(L"\n== %hs ==\n", title);
    for (const wchar_t* name : {L"Glacis", L"HotMend", L"Rampart", L"KLOTarvos"}) {
        host::ServiceInfo info = host::queryService(name);
        if (!info.exists) {
            wprintf(L"  service %-10ls not registered\n", name);
            continue;
        }
        const wchar_t* state = info.state == SERVICE_RUNNING   ? L"running"
                               : info.state == SERVICE_STOPPED ? L"stopped"
                                                               : L"other";
        const wchar_t* start = info.startType == SERVICE_AUTO_START     ? L"auto"
                               : info.startType == SERVICE_DEMAND_START ? L"demand"
                                                                        : L"other";
        wprintf(L"  service %-10ls %-8ls start=%-6ls type=0x%03lx path=%ls\n", name, state, start,
                info.serviceType, info.binaryPath.c_str());
    }
    for (const wchar_t* file :
         {L"hotmend.exe", L"glacis.exe", L"policy.xml", L"policy.txt", L"QsxFFilter.dll"}) {
        wprintf(L"  file    %-14ls %ls\n", file,
                host::exists(kInstall + L"\\" + file) ? L"present" : L"absent");
    }
}

void showShortcuts() {
    const std::wstring programs = L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
    for (const std::wstring& link : {programs + L"\\QSX\\Tarvos Server\\Tarvos Server Agent.lnk",
                                     programs + L"\\StartUp\\Tarvos Server Agent.lnk",
                                     programs + L"\\QSX\\Tarvos Server\\Tarvos Readme.lnk"}) {
        wprintf(L"  link    %ls %ls\n", link.c_str(), host::exists(link) ? L"present" : L"absent");
    }
}

void showInstallerRuns() {
    for (const wchar_t* exe : {L"NetInstall\\x64\\NetInst.exe", L"IfsInstall\\x64\\IfsInst.exe"}) {
        for (const std::string& run : host::runsOf(kInstall + L"\\" + exe)) {
            wprintf(L"  ran     %hs\n", run.substr(0, run.find('\t')).c_str());
        }
    }
}

void installService(const std::wstring& name, const std::wstring& exe, bool start) {
    host::installFake(L"fake_service.exe", kInstall + L"\\" + exe);
    host::createService(name, L"\"" + kInstall + L"\\" + exe + L"\"");
    if (start)
        host::startService(name);
}

}  // namespace

int main() {
    host::makeDirs(kInstall);
    host::makeDirs(kTool);
    host::setString(L"SOFTWARE\\QSX\\Tarvos Desktop", L"InstallDir", kInstall);
    for (const wchar_t* program : {L"\\Relocator.exe", L"\\relocator-check.exe"})
        CopyFileW((host::binDir() + program).c_str(), (kTool + program).c_str(), FALSE);
    installService(L"Glacis", L"glacisd.exe", false);
    installService(L"HotMend", L"hotmend.exe", true);
    installService(L"Rampart", L"Rampart.exe", true);
    // The new agent's files, copied in by the deployment system.
    host::installFake(L"fake_service.exe", kInstall + L"\\thService.exe");
    for (const wchar_t* dir : {L"\\NetInstall\\x64", L"\\IfsInstall\\x64", L"\\drivers\\qsxnet",
                               L"\\drivers\\qsxfltr\\x86\\Win2K3"}) {
        host::makeDirs(kInstall + dir);
    }
    host::installFake(L"fake_installer.exe", kInstall + L"\\NetInstall\\x64\\NetInst.exe");
    host::installFake(L"fake_installer.exe", kInstall + L"\\IfsInstall\\x64\\IfsInst.exe");
    host::writeFile(kInstall + L"\\drivers\\qsxfltr\\x86\\Win2K3\\QsxFFilter.dll", "library");
    host::writeFile(kInstall + L"\\personality.ini",
                    "[Runtime]\r\nPersonality=desktop\r\nProductName=Tarvos Desktop\r\n"
                    "RegistryKey=SOFTWARE\\QSX\\Tarvos Desktop\r\n");
    host::setString(L"SOFTWARE\\QSX\\HostAgent", L"InstallDir", kInstall);
    host::writeFile(kInstall + L"\\policy.xml",
                    testsupport::encipher(
                        std::string("<?xml version=\"1.0\"?>\r\n<Policy IncludeLocalGUI='true'>\r\n"
                                    "</Policy>\r\n")));
    host::installFake(L"fake_service.exe", kTool + L"\\glacis.exe", "exit 0");
    host::installFake(L"fake_service.exe", kTool + L"\\Rampart.exe", "exit 0");

    showHost("Host before");
    showShortcuts();
    wprintf(L"\n== Preflight: %ls\\relocator-check.exe ==\n", kTool.c_str());
    host::RunResult check = host::run(L"\"" + kTool + L"\\relocator-check.exe\"", kTool);
    std::fwrite(check.output.data(), 1, check.output.size(), stdout);
    wprintf(L"  (exit code %lu)\n", check.exitCode);
    wprintf(L"\n== Running %ls\\Relocator.exe ==\n", kTool.c_str());
    host::RunResult result = host::run(L"\"" + kTool + L"\\Relocator.exe\"", kTool);
    wprintf(L"  exit code %lu, standard output: \"%hs\"\n", result.exitCode, result.output.c_str());

    wprintf(L"\n== %ls ==\n", host::logPath().c_str());
    std::string log = host::readFile(host::logPath());
    if (log.compare(0, 3, "\xEF\xBB\xBF") == 0)
        log.erase(0, 3);
    fwrite(log.data(), 1, log.size(), stdout);
    fflush(stdout);
    showHost("Host after");
    showShortcuts();
    showInstallerRuns();
    return 0;
}
