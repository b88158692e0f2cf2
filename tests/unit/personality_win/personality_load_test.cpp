// The personality's Windows side in one process: the WOW64 query with its debugger texts,
// locating "personality.ini" (current folder, then the agent's registry key) and the load.
#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "host_support.h"
#include "personality/personality_win.h"
#include "personality_files.h"

#ifndef RELOCATOR_EXPECT_WOW64
#error \
    "RELOCATOR_EXPECT_WOW64 names the prefix's answer: 1 on the 64-bit prefix, 0 on the 32-bit one"
#endif

namespace {

// The debugger texts of one isWow64With call.
std::vector<std::wstring> gDebugTexts;
void WINAPI recordDebugText(LPCWSTR text) {
    gDebugTexts.push_back(text);
}

BOOL gAnswer = FALSE;
BOOL gQuerySucceeds = TRUE;
HANDLE gAskedFor = nullptr;
BOOL WINAPI fakeIsWow64Process(HANDLE process, PBOOL answer) {
    gAskedFor = process;
    if (!gQuerySucceeds) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    *answer = gAnswer;
    return TRUE;
}

std::vector<std::wstring> queryWith(Personality& p, BOOL succeeds, BOOL answer) {
    gDebugTexts.clear();
    gQuerySucceeds = succeeds;
    gAnswer = answer;
    gAskedFor = nullptr;
    isWow64With(p, fakeIsWow64Process, recordDebugText);
    return gDebugTexts;
}

const std::wstring kAbove = L"Personality::isWow64()::SYSTEM IS 2003 OR ABOVE(32/64)";

}  // namespace

TEST(IsWow64, AnswersOfTheQueryAndTheirDebuggerTexts) {
    Personality p;
    EXPECT_EQ(queryWith(p, TRUE, TRUE),
              (std::vector<std::wstring>{kAbove, L"Personality::isWow64()::SYSTEM 64"}));
    EXPECT_EQ(p.wow64, 1);
    EXPECT_EQ(gAskedFor, GetCurrentProcess());

    EXPECT_EQ(queryWith(p, TRUE, FALSE),
              (std::vector<std::wstring>{kAbove, L"Personality::isWow64()::SYSTEM 32"}));
    EXPECT_EQ(p.wow64, 0);
}

TEST(IsWow64, AFailedQueryLeavesTheFlagAndSaysNoMore) {
    Personality p;
    p.wow64 = 1;
    EXPECT_EQ(queryWith(p, FALSE, FALSE), std::vector<std::wstring>{kAbove});
    EXPECT_EQ(p.wow64, 1);
    p.wow64 = 0;
    EXPECT_EQ(queryWith(p, FALSE, TRUE), std::vector<std::wstring>{kAbove});
    EXPECT_EQ(p.wow64, 0);
}

TEST(IsWow64, AnUnexpectedAnswerCountsAs64BitAndTheProcessGoesOn) {
    Personality p;
    for (BOOL odd : {2, -1, 0x100}) {
        EXPECT_EQ(queryWith(p, TRUE, odd),
                  (std::vector<std::wstring>{
                      kAbove, L"Personality::isWow64()::ERROR CONDITION/DON'T KNOW WHAT TO DO:-)"}))
            << odd;
        EXPECT_EQ(p.wow64, 1) << odd;
        p.wow64 = 0;
    }
}

TEST(IsWow64, WithoutTheQueryTheSystemIs32Bit) {
    Personality p;
    p.wow64 = 1;
    gDebugTexts.clear();
    isWow64With(p, nullptr, recordDebugText);
    EXPECT_EQ(gDebugTexts,
              std::vector<std::wstring>{L"Personality::isWow64()::SYSTEM IS 2000 SERIES(32)"});
    EXPECT_EQ(p.wow64, 0);
}

TEST(IsWow64, TheSystemsAnswerOnThisPrefix) {
    // A 32-bit program reports WOW64 on the 64-bit prefix and not on the 32-bit one.
    Personality p;
    p.wow64 = 7;
    isWow64(p);
    EXPECT_EQ(p.wow64, RELOCATOR_EXPECT_WOW64);
}

namespace {

const std::wstring kBase = L"C:\\relo_pers";
const std::wstring kCurrent = kBase + L"\\current";
const std::wstring kInstall = kBase + L"\\install";

class PersonalityLoad : public ::testing::Test {
  protected:
    void SetUp() override {
        host::deleteKey(kHostAgentKey);
        host::freshFolder(kBase);
        host::makeDirs(kCurrent);
        host::makeDirs(kInstall);
    }
    void TearDown() override {
        host::deleteKey(kHostAgentKey);
        host::removeTree(kBase);
    }
    static void write(const std::wstring& folder, const std::string& bytes) {
        ASSERT_TRUE(host::writeFile(folder + L"\\personality.ini", bytes));
    }
    static Personality load(const std::wstring& folder) {
        ptest::InFolder in(folder);
        Personality p;
        loadPersonality(p);
        return p;
    }
    static bool locate(const std::wstring& folder, std::wstring& path) {
        ptest::InFolder in(folder);
        return locatePersonalityFile(path);
    }
};

// Every field of a failed load but loadFailed and wow64 keeps its initial value.
void expectInitialFields(const Personality& p) {
    EXPECT_TRUE(p.loadFailed);
    EXPECT_EQ(p.edition, 0);
    EXPECT_TRUE(p.ProductName.empty());
    EXPECT_TRUE(p.RegistryKey.empty());
    EXPECT_FALSE(p.FeatureFirewall);
    EXPECT_EQ(p.ProductID, 0);
    for (int32_t level : p.guiLevel)
        EXPECT_EQ(level, 0);
    EXPECT_TRUE(p.policyNames.empty());
    EXPECT_TRUE(p.loadableModules.empty());
}

}  // namespace

TEST_F(PersonalityLoad, TheFileInTheCurrentFolderWinsOverTheRegistry) {
    write(kCurrent, ptest::personalityText("desktop", "FromCurrent", "SOFTWARE\\QSX\\A"));
    write(kInstall, ptest::personalityText("server", "FromInstall", "SOFTWARE\\QSX\\B"));
    host::setString(kHostAgentKey, L"InstallDir", kInstall);

    std::wstring path;
    ASSERT_TRUE(locate(kCurrent, path));
    EXPECT_EQ(path, L"personality.ini");
    Personality fromCurrent = load(kCurrent);
    EXPECT_FALSE(fromCurrent.loadFailed);
    EXPECT_EQ(fromCurrent.ProductName, u"FromCurrent");
    EXPECT_EQ(fromCurrent.edition, 0);
    EXPECT_EQ(fromCurrent.wow64, RELOCATOR_EXPECT_WOW64);

    // Without a file in the current folder the registry names the folder.
    ASSERT_TRUE(locate(kBase, path));
    EXPECT_EQ(path, kInstall + L"\\personality.ini");
    Personality fromInstall = load(kBase);
    EXPECT_FALSE(fromInstall.loadFailed);
    EXPECT_EQ(fromInstall.ProductName, u"FromInstall");
    EXPECT_EQ(fromInstall.edition, 1);
    EXPECT_EQ(fromInstall.RegistryKey, u"SOFTWARE\\QSX\\B");
}

TEST_F(PersonalityLoad, AFolderNamedLikeTheFileInTheCurrentFolderDoesNotCount) {
    host::makeDirs(kCurrent + L"\\personality.ini");
    write(kInstall, ptest::personalityText("server", "FromInstall", "K"));
    host::setString(kHostAgentKey, L"InstallDir", kInstall);
    std::wstring path;
    ASSERT_TRUE(locate(kCurrent, path));
    EXPECT_EQ(path, kInstall + L"\\personality.ini");
    EXPECT_EQ(load(kCurrent).ProductName, u"FromInstall");
}

TEST_F(PersonalityLoad, ATrailingBackslashOfTheValueStaysAndTheFileIsFound) {
    write(kInstall, ptest::personalityText("server", "Trailing", "K"));
    host::setString(kHostAgentKey, L"InstallDir", kInstall + L"\\");
    std::wstring path;
    ASSERT_TRUE(locate(kBase, path));
    EXPECT_EQ(path, kInstall + L"\\\\personality.ini");
    Personality p = load(kBase);
    EXPECT_FALSE(p.loadFailed);
    EXPECT_EQ(p.ProductName, u"Trailing");
}

TEST_F(PersonalityLoad, AnUnterminatedValueIsReadWhole) {
    write(kInstall, ptest::personalityText("desktop", "Unterminated", "K"));
    ASSERT_TRUE(ptest::setRawString(kHostAgentKey, L"InstallDir", kInstall));
    std::wstring path;
    ASSERT_TRUE(locate(kBase, path));
    EXPECT_EQ(path, kInstall + L"\\personality.ini");
    EXPECT_EQ(load(kBase).ProductName, u"Unterminated");
}

TEST_F(PersonalityLoad, ValuesAndPathsThatDoNotFitAreRefusedNotCut) {
    std::wstring path = L"stale";
    // The joined path of exactly 260 characters is used; one more is refused.
    std::wstring fits = L"C:\\" + std::wstring(260 - 3 - 16, L'f');
    host::setString(kHostAgentKey, L"InstallDir", fits);
    ASSERT_TRUE(locate(kBase, path));
    EXPECT_EQ(path.size(), 260u);
    EXPECT_EQ(path, fits + L"\\personality.ini");

    host::setString(kHostAgentKey, L"InstallDir", fits + L"g");
    EXPECT_FALSE(locate(kBase, path));
    EXPECT_TRUE(path.empty());

    // A value of 261 characters does not fit the value's 260: refused, never cut to 260.
    std::wstring longValue = L"C:\\" + std::wstring(258, L'v');
    ASSERT_EQ(longValue.size(), 261u);
    host::setString(kHostAgentKey, L"InstallDir", longValue);
    EXPECT_FALSE(locate(kBase, path));
    ASSERT_TRUE(ptest::setRawString(kHostAgentKey, L"InstallDir", longValue));
    EXPECT_FALSE(locate(kBase, path));

    Personality p = load(kBase);
    expectInitialFields(p);
    EXPECT_EQ(p.wow64, RELOCATOR_EXPECT_WOW64);
}

TEST_F(PersonalityLoad, NoFileAnywhereFailsTheLoadButWorksOutWow64) {
    std::wstring path = L"stale";
    // No key, then a key without the value, then an empty value.
    EXPECT_FALSE(locate(kBase, path));
    EXPECT_TRUE(path.empty());
    expectInitialFields(load(kBase));
    EXPECT_EQ(load(kBase).wow64, RELOCATOR_EXPECT_WOW64);

    host::setString(kHostAgentKey, L"Other", L"x");
    EXPECT_FALSE(locate(kBase, path));
    host::setString(kHostAgentKey, L"InstallDir", L"");
    EXPECT_FALSE(locate(kBase, path));
    Personality p = load(kBase);
    expectInitialFields(p);
    EXPECT_EQ(p.wow64, RELOCATOR_EXPECT_WOW64);
}

TEST_F(PersonalityLoad, AFileThatIsLocatedButCannotBeReadFailsTheLoad) {
    // The registry names a folder whose "personality.ini" is a folder: located, not readable.
    host::makeDirs(kInstall + L"\\personality.ini");
    host::setString(kHostAgentKey, L"InstallDir", kInstall);
    std::wstring path;
    ASSERT_TRUE(locate(kBase, path));
    Personality p = load(kBase);
    expectInitialFields(p);
    EXPECT_EQ(p.wow64, RELOCATOR_EXPECT_WOW64);

    // A missing file under the named folder fails the same way.
    host::removeTree(kInstall + L"\\personality.ini");
    p = load(kBase);
    expectInitialFields(p);
    EXPECT_EQ(p.wow64, RELOCATOR_EXPECT_WOW64);
}

namespace {

const std::string kFullText =
    "; product description\r\n"
    "[Runtime]\r\n"
    "Personality=SERVER\r\n"
    "ProductName=Tarvos Server\r\n"
    "ProductID=42\r\n"
    "RoleID=-3\r\n"
    "AgentNamespace=urn:agent\r\n"
    "RegistryKey=SOFTWARE\\QSX\\Tarvos Server\r\n"
    "PolicyNamespace=a/b/fw^urn:x,,ips^urn:y\r\n"
    "FeatureFirewall=Enabled\r\n"
    "FeatureIPS=yes\r\n"
    "FeatureWELM=1\r\n"
    "[Modules]\r\n"
    "Loadable=engine^engine.dll^SERVICE|ui^ui.exe^standalone\r\n"
    "Signable=a|b\r\n"
    "[GUI]\r\n"
    "FeatureIPS=0\r\n"
    "FeatureEmail=5\r\n";

void expectFullValues(const Personality& p) {
    EXPECT_FALSE(p.loadFailed);
    EXPECT_EQ(p.edition, 1);
    EXPECT_EQ(p.ProductName, u"Tarvos Server");
    EXPECT_EQ(p.ProductID, 42);
    EXPECT_EQ(p.RoleID, -3);
    EXPECT_EQ(p.AgentNamespace, u"urn:agent");
    EXPECT_EQ(p.RegistryKey, u"SOFTWARE\\QSX\\Tarvos Server");
    EXPECT_EQ(p.policyNames, (std::vector<std::u16string>{u"a/b/fw", u"ips"}));
    EXPECT_EQ(p.policyFiles, std::vector<std::u16string>{u"fw.xml"});
    EXPECT_TRUE(p.FeatureFirewall);
    EXPECT_FALSE(p.FeatureIPS);
    EXPECT_TRUE(p.FeatureWELM);
    ASSERT_EQ(p.loadableModules.size(), 2u);
    EXPECT_EQ(p.loadableModules[0].target, u"engine.dll");
    EXPECT_EQ(p.loadableModules[0].runMode, RunService);
    EXPECT_EQ(p.loadableModules[1].runMode, RunInproc);
    EXPECT_EQ(p.signableModules.size(), 2u);
    EXPECT_EQ(p.guiLevel[0], 2);
    EXPECT_EQ(p.guiLevel[1], 0);
    EXPECT_EQ(p.guiLevel[12], 5);
    EXPECT_EQ(p.wow64, RELOCATOR_EXPECT_WOW64);
}

}  // namespace

TEST_F(PersonalityLoad, PlainAndEncipheredFilesGiveTheSameValues) {
    write(kCurrent, kFullText);
    SCOPED_TRACE("plain");
    expectFullValues(load(kCurrent));

    write(kCurrent, ptest::encipher(ptest::kUtf8Mark + kFullText));
    SCOPED_TRACE("enciphered after a UTF-8 mark");
    expectFullValues(load(kCurrent));

    write(kCurrent, ptest::encipher(kFullText));
    SCOPED_TRACE("enciphered without a mark");
    expectFullValues(load(kCurrent));

    // The enciphered file located through the registry reads the same.
    host::removeTree(kCurrent + L"\\personality.ini");
    write(kInstall, ptest::encipher(ptest::kUtf8Mark + kFullText));
    host::setString(kHostAgentKey, L"InstallDir", kInstall);
    SCOPED_TRACE("enciphered, through the registry");
    expectFullValues(load(kCurrent));
}
