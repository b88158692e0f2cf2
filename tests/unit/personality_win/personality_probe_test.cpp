// GetPersonality as the tool meets it: one load per process, so each case runs the probe
// program as a process of its own, from the current folder the case needs, as its debugger.
#include <gtest/gtest.h>

#include <windows.h>

#include <map>

#include "debug_run.h"
#include "host_support.h"
#include "personality/personality_win.h"
#include "personality_files.h"

namespace {

const std::wstring kBase = L"C:\\relo_probe";
const std::wstring kCurrent = kBase + L"\\current";
const std::wstring kInstall = kBase + L"\\install";
const std::wstring kServerKey = L"SOFTWARE\\QSX\\Probe Server";
const std::wstring kDesktopKey = L"SOFTWARE\\QSX\\Tarvos Desktop";

struct ProbeResult {
    ptest::DebugRun run;
    std::map<std::string, std::string> values;
    // The personality's own debugger texts, in order.
    std::vector<std::wstring> personalityTexts;
};

class PersonalityProbe : public ::testing::Test {
  protected:
    void SetUp() override {
        clearKeys();
        host::freshFolder(kBase);
        host::makeDirs(kCurrent);
        host::makeDirs(kInstall);
    }
    void TearDown() override {
        clearKeys();
        host::removeTree(kBase);
    }
    static void clearKeys() {
        host::deleteKey(kHostAgentKey);
        host::deleteKey(kServerKey);
        host::deleteKey(kDesktopKey);
    }
    static ProbeResult probe(const std::wstring& folder, const wchar_t* extra = L"") {
        ProbeResult result;
        std::wstring out = kBase + L"\\probe.out";
        DeleteFileW(out.c_str());
        std::wstring command =
            L"\"" + host::binDir() + L"\\personality_probe.exe\" \"" + out + L"\" " + extra;
        result.run = ptest::runUnderDebugger(command, folder);
        std::string text = host::readFile(out);
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            std::string line = text.substr(start, end - start);
            size_t eq = line.find('=');
            if (eq != std::string::npos)
                result.values[line.substr(0, eq)] = line.substr(eq + 1);
            start = end == std::string::npos ? text.size() : end + 1;
        }
        for (const std::wstring& t : result.run.debugStrings) {
            if (t.rfind(L"Personality::", 0) == 0)
                result.personalityTexts.push_back(t);
        }
        return result;
    }
};

std::vector<std::wstring> expectedWow64Texts() {
    // On the 64-bit prefix the 32-bit program runs under WOW64; on the 32-bit one it does not.
    return {L"Personality::isWow64()::SYSTEM IS 2003 OR ABOVE(32/64)",
            RELOCATOR_EXPECT_WOW64 ? L"Personality::isWow64()::SYSTEM 64"
                                   : L"Personality::isWow64()::SYSTEM 32"};
}

}  // namespace

TEST_F(PersonalityProbe, TheCurrentFolderWinsAndTheDebuggerHearsTheWow64Answer) {
    host::writeFile(kCurrent + L"\\personality.ini",
                    ptest::personalityText("desktop", "FromCurrent", "SOFTWARE\\QSX\\A"));
    host::writeFile(kInstall + L"\\personality.ini",
                    ptest::personalityText("server", "FromInstall", "SOFTWARE\\QSX\\B"));
    host::setString(kHostAgentKey, L"InstallDir", kInstall);

    ProbeResult current = probe(kCurrent);
    ASSERT_TRUE(current.run.started);
    EXPECT_EQ(current.run.exitCode, 0u);
    EXPECT_EQ(current.values["loadFailed"], "0");
    EXPECT_EQ(current.values["ProductName"], "FromCurrent");
    EXPECT_EQ(current.values["edition"], "0");
    EXPECT_EQ(current.values["wow64"], std::to_string(RELOCATOR_EXPECT_WOW64));
    EXPECT_EQ(current.personalityTexts, expectedWow64Texts());

    ProbeResult installed = probe(kBase);
    EXPECT_EQ(installed.values["loadFailed"], "0");
    EXPECT_EQ(installed.values["ProductName"], "FromInstall");
    EXPECT_EQ(installed.values["edition"], "1");
    EXPECT_EQ(installed.values["RegistryKey"], "SOFTWARE\\QSX\\B");
}

TEST_F(PersonalityProbe, EncipheredAndPlainFilesLoadAlike) {
    std::string text = ptest::personalityText("Server", "Cipher Test", "SOFTWARE\\QSX\\C");
    host::writeFile(kCurrent + L"\\personality.ini", text);
    ProbeResult plain = probe(kCurrent);
    host::writeFile(kCurrent + L"\\personality.ini", ptest::encipher(ptest::kUtf8Mark + text));
    ProbeResult enciphered = probe(kCurrent);
    EXPECT_EQ(plain.values["ProductName"], "Cipher Test");
    EXPECT_EQ(plain.values["edition"], "1");
    EXPECT_EQ(plain.values, enciphered.values);
}

TEST_F(PersonalityProbe, TheServerEditionsInstallationFolderComesFromItsOwnKey) {
    host::writeFile(kCurrent + L"\\personality.ini",
                    ptest::personalityText("server", "Srv", "SOFTWARE\\QSX\\Probe Server"));
    host::setString(kServerKey, L"InstallDir", L"D:\\Agents\\Server\\");
    host::setString(kDesktopKey, L"InstallDir", L"D:\\Agents\\Desktop");
    ProbeResult server = probe(kCurrent);
    EXPECT_EQ(server.values["edition"], "1");
    EXPECT_EQ(server.values["installDir"], "D:\\Agents\\Server");

    // The server edition whose key is missing gets the server default.
    host::deleteKey(kServerKey);
    EXPECT_EQ(probe(kCurrent).values["installDir"], "c:\\program files\\qsx\\tarvos server\\");

    // The desktop edition keeps the desktop key, whatever the file names.
    host::writeFile(kCurrent + L"\\personality.ini",
                    ptest::personalityText("desktop", "Dsk", "SOFTWARE\\QSX\\Probe Server"));
    host::setString(kServerKey, L"InstallDir", L"D:\\Agents\\Server");
    EXPECT_EQ(probe(kCurrent).values["installDir"], "D:\\Agents\\Desktop");
}

TEST_F(PersonalityProbe, WithoutAFileTheLoadFailsButWow64IsStillWorkedOut) {
    ProbeResult none = probe(kCurrent);
    ASSERT_TRUE(none.run.started);
    EXPECT_EQ(none.values["loadFailed"], "1");
    EXPECT_EQ(none.values["edition"], "0");
    EXPECT_EQ(none.values["ProductName"], "");
    EXPECT_EQ(none.values["RegistryKey"], "");
    EXPECT_EQ(none.values["wow64"], std::to_string(RELOCATOR_EXPECT_WOW64));
    EXPECT_EQ(none.personalityTexts, expectedWow64Texts());
    EXPECT_EQ(none.values["installDir"], "c:\\program files\\qsx\\tarvos desktop\\");
}

TEST_F(PersonalityProbe, TheFileIsReadOnceAndTheSameObjectIsReturned) {
    host::writeFile(kCurrent + L"\\personality.ini",
                    ptest::personalityText("desktop", "First", "K"));
    ProbeResult twice = probe(kCurrent, L"twice");
    EXPECT_EQ(twice.values["ProductName"], "First");
    EXPECT_EQ(twice.values["same"], "1");
    EXPECT_EQ(twice.values["ProductName2"], "First");
    // The probe did rewrite the file: a second load would have seen it.
    EXPECT_NE(host::readFile(kCurrent + L"\\personality.ini").find("Rewritten"), std::string::npos);
    EXPECT_EQ(twice.personalityTexts, expectedWow64Texts());
}
