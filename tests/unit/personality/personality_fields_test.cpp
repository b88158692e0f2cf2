// Field parsing of the personality: flags, run modes, tokens, policy namespaces, module
// lists, GUI settings, and a whole Personality filled from parsed text.
#include <gtest/gtest.h>

#include "ini_text.h"
#include "personality/personality_fields.h"

using testini::ParseText;

namespace {

using Strings = std::vector<std::u16string>;
using NamespaceMap = std::map<std::u16string, std::u16string>;

std::u16string Number(int n) {
    std::string digits = std::to_string(n);
    return std::u16string(digits.begin(), digits.end());
}

TEST(PersonalityFields, ParseBool) {
    for (const char16_t* yes : {u"true", u"TRUE", u"True", u"enabled", u"Enabled", u"ENABLED",
                                u"on", u"On", u"oN", u"1"}) {
        EXPECT_TRUE(ParseBool(yes)) << personality::Utf16ToUtf8(yes);
    }
    for (const char16_t* no : {u"", u"yes", u"0", u"false", u"off", u" true", u"true ", u"1 ",
                               u"01", u"tru", u"truee", u"enable", u"o", u"\u0130"}) {
        EXPECT_FALSE(ParseBool(no)) << personality::Utf16ToUtf8(no);
    }
    // Only ASCII letters fold: the Kelvin sign is not a 'k', a dotted capital I not an 'i'.
    EXPECT_FALSE(ParseBool(u"ENABLED\u212A"));
    EXPECT_FALSE(ParseBool(std::u16string(u"on\0x", 4)));
}

TEST(PersonalityFields, ParseRunMode) {
    EXPECT_EQ(ParseRunMode(u"INPROC"), RunInproc);
    EXPECT_EQ(ParseRunMode(u"OUTPROC"), RunOutproc);
    EXPECT_EQ(ParseRunMode(u"SERVICE"), RunService);
    EXPECT_EQ(ParseRunMode(u"STANDALONE"), RunStandalone);
    for (const char16_t* other :
         {u"", u"standalone", u"Service", u"SERVICE ", u" OUTPROC", u"3", u"STANDALONEX"}) {
        EXPECT_EQ(ParseRunMode(other), RunInproc) << personality::Utf16ToUtf8(other);
    }
}

TEST(PersonalityFields, NextTokenWalksFields) {
    const std::u16string text = u"a^bc^^d^";
    size_t p = 0;
    EXPECT_EQ(NextToken(text, u'^', p), u"a");
    EXPECT_EQ(p, 2u);
    EXPECT_EQ(NextToken(text, u'^', p), u"bc");
    EXPECT_EQ(p, 5u);
    // A separator right at the position ends an empty field there.
    EXPECT_EQ(NextToken(text, u'^', p), u"");
    EXPECT_EQ(p, 6u);
    EXPECT_EQ(NextToken(text, u'^', p), u"d");
    EXPECT_EQ(p, 8u);
    // At the end: empty, position unchanged.
    EXPECT_EQ(NextToken(text, u'^', p), u"");
    EXPECT_EQ(p, 8u);
    p = 100;
    EXPECT_EQ(NextToken(text, u'^', p), u"");
    EXPECT_EQ(p, 100u);

    const std::u16string rest = u"x|y";
    p = 2;
    EXPECT_EQ(NextToken(rest, u'|', p), u"y");
    EXPECT_EQ(p, 3u);
    p = 0;
    EXPECT_EQ(NextToken(std::u16string(), u'|', p), u"");
    EXPECT_EQ(p, 0u);
}

TEST(PersonalityFields, PolicyNamespaceExamples) {
    Strings names;
    NamespaceMap namespaces;
    ParsePolicyNamespaces(u"a/b/fw^urn:x,,ips^urn:y", names, namespaces);
    EXPECT_EQ(names, (Strings{u"a/b/fw", u"ips"}));
    EXPECT_EQ(namespaces, (NamespaceMap{{u"a/b/fw", u"urn:x"}, {u"ips", u"urn:y"}}));
    EXPECT_EQ(PolicyFilesFor(names), Strings{u"fw.xml"});

    names.clear();
    namespaces.clear();
    ParsePolicyNamespaces(u"p^1,p^2", names, namespaces);
    EXPECT_EQ(names, (Strings{u"p", u"p"}));
    EXPECT_EQ(namespaces, (NamespaceMap{{u"p", u"2"}}));

    names.clear();
    namespaces.clear();
    ParsePolicyNamespaces(u"", names, namespaces);
    ParsePolicyNamespaces(u",,,", names, namespaces);
    EXPECT_TRUE(names.empty());
    EXPECT_TRUE(namespaces.empty());
}

TEST(PersonalityFields, PolicyItemsAreCutAtFirstCaretAndNotTrimmed) {
    Strings names;
    NamespaceMap namespaces;
    ParsePolicyNamespaces(u",noCaret, a ^ b ,x^y^z,^lone,", names, namespaces);
    EXPECT_EQ(names, (Strings{u" a ", u"x", u""}));
    EXPECT_EQ(namespaces, (NamespaceMap{{u" a ", u" b "}, {u"x", u"y^z"}, {u"", u"lone"}}));
}

TEST(PersonalityFields, LongPolicyNamespaceIsParsedWhole) {
    const std::u16string longNamespace(1500, u'n');
    const std::u16string text = u"first/one^" + longNamespace + u",second/two^urn:last";
    ASSERT_GT(text.size(), 1023u);
    Strings names;
    NamespaceMap namespaces;
    ParsePolicyNamespaces(text, names, namespaces);
    EXPECT_EQ(names, (Strings{u"first/one", u"second/two"}));
    EXPECT_EQ(namespaces[u"first/one"], longNamespace);
    EXPECT_EQ(namespaces[u"second/two"], u"urn:last");
    EXPECT_EQ(PolicyFilesFor(names), (Strings{u"one.xml", u"two.xml"}));
}

TEST(PersonalityFields, PolicyFilesNeedTextAfterLastSlash) {
    EXPECT_EQ(PolicyFilesFor({u"a/b/", u"plain", u"", u"/", u"x//y", u"dir/f w", u"a/b/c"}),
              (Strings{u"y.xml", u"f w.xml", u"c.xml"}));
}

void ExpectModule(const LoadableModule& m,
                  const std::u16string& name,
                  const std::u16string& target,
                  RunMode mode) {
    EXPECT_EQ(m.name, name);
    EXPECT_EQ(m.target, target);
    EXPECT_EQ(m.runMode, mode);
}

TEST(PersonalityFields, LoadableExamples) {
    auto modules = ParseLoadableModules(u"engine^engine.dll^SERVICE|ui^ui.exe^standalone");
    ASSERT_EQ(modules.size(), 2u);
    ExpectModule(modules[0], u"engine", u"engine.dll", RunService);
    ExpectModule(modules[1], u"ui", u"ui.exe", RunInproc);

    modules = ParseLoadableModules(u"one");
    ASSERT_EQ(modules.size(), 1u);
    ExpectModule(modules[0], u"one", u"", RunInproc);

    modules = ParseLoadableModules(u"a^^OUTPROC|b^t^STANDALONE^extra|c^t^");
    ASSERT_EQ(modules.size(), 3u);
    ExpectModule(modules[0], u"a", u"", RunOutproc);
    ExpectModule(modules[1], u"b", u"t", RunStandalone);
    ExpectModule(modules[2], u"c", u"t", RunInproc);

    EXPECT_TRUE(ParseLoadableModules(u"").empty());
}

TEST(PersonalityFields, ModuleListsSkipEmptyEntriesAndEnd) {
    auto loadable = ParseLoadableModules(u"|a^x.dll^SERVICE||b^y.dll|");
    ASSERT_EQ(loadable.size(), 2u);
    ExpectModule(loadable[0], u"a", u"x.dll", RunService);
    ExpectModule(loadable[1], u"b", u"y.dll", RunInproc);
    EXPECT_TRUE(ParseLoadableModules(u"|").empty());
    EXPECT_TRUE(ParseLoadableModules(u"|||").empty());
    // An entry that is not empty but has an empty name is kept.
    loadable = ParseLoadableModules(u"^t^SERVICE");
    ASSERT_EQ(loadable.size(), 1u);
    ExpectModule(loadable[0], u"", u"t", RunService);

    auto signable = ParseSignableModules(u"a|b");
    ASSERT_EQ(signable.size(), 2u);
    EXPECT_EQ(signable[0].name, u"a");
    EXPECT_EQ(signable[1].name, u"b");
    EXPECT_TRUE(signable[0].signable);
    EXPECT_TRUE(signable[1].signable);

    signable = ParseSignableModules(u"a|");
    ASSERT_EQ(signable.size(), 1u);
    EXPECT_EQ(signable[0].name, u"a");

    signable = ParseSignableModules(u"|a||b c|^|");
    ASSERT_EQ(signable.size(), 3u);
    EXPECT_EQ(signable[0].name, u"a");
    EXPECT_EQ(signable[1].name, u"b c");
    EXPECT_EQ(signable[2].name, u"^");
    EXPECT_TRUE(ParseSignableModules(u"").empty());
    EXPECT_TRUE(ParseSignableModules(u"||").empty());
}

Personality ReadFrom(const std::u16string& text) {
    CCryptFileHelper ini;
    ParseText(ini, text);
    Personality p;
    EXPECT_TRUE(ReadPersonality(p, ini));
    return p;
}

TEST(PersonalityFields, WholePersonality) {
    Personality p = ReadFrom(
        u"[Runtime]\n"
        u"Personality=SERVER\n"
        u"ProductName=Tarvos Agent\n"
        u"ProductID=42abc\n"
        u"RoleID=-3\n"
        u"AgentNamespace=urn:agent\n"
        u"SchemaVersion=2.1\n"
        u"AgentModel=model\n"
        u"RegistryKey=SOFTWARE\\QSX\\HostAgent\n"
        u"AboutBoxLogo=logo.bmp\n"
        u"UISplash=splash.bmp\n"
        u"AudibleAlarm=alarm.wav\n"
        u"HelpFile=help.chm\n"
        u"AgentDescription=The agent\n"
        u"PamHint=hint\n"
        u"PolicyNamespace=a/b/fw^urn:x,,ips^urn:y\n"
        u"FeatureFirewall=Enabled\n"
        u"FeatureIPS=on\n"
        u"FeatureBOEP=1\n"
        u"FeatureAVCompliance=TRUE\n"
        u"FeatureAppControl=yes\n"
        u"FeatureAppControlLearningMode=0\n"
        u"FeatureVPS=\n"
        u"FeatureAdaptivePolicy=true\n"
        u"FeatureWELM=true\n"
        u"[Modules]\n"
        u"Loadable=engine^engine.dll^SERVICE|ui^ui.exe^standalone|\n"
        u"Signable=a|b\n"
        u"[GUI]\n"
        u"FeatureIPS=0\n");
    EXPECT_FALSE(p.loadFailed);
    EXPECT_EQ(p.edition, 1);
    EXPECT_EQ(p.ProductName, u"Tarvos Agent");
    EXPECT_EQ(p.ProductID, 42);
    EXPECT_EQ(p.RoleID, -3);
    EXPECT_EQ(p.AgentNamespace, u"urn:agent");
    EXPECT_EQ(p.SchemaVersion, u"2.1");
    EXPECT_EQ(p.AgentModel, u"model");
    EXPECT_EQ(p.RegistryKey, u"SOFTWARE\\QSX\\HostAgent");
    EXPECT_EQ(p.AboutBoxLogo, u"logo.bmp");
    EXPECT_EQ(p.UISplash, u"splash.bmp");
    EXPECT_EQ(p.AudibleAlarm, u"alarm.wav");
    EXPECT_EQ(p.HelpFile, u"help.chm");
    EXPECT_EQ(p.AgentDescription, u"The agent");
    EXPECT_EQ(p.PamHint, u"hint");
    EXPECT_EQ(p.policyNames, (Strings{u"a/b/fw", u"ips"}));
    EXPECT_EQ(p.policyNamespaces, (NamespaceMap{{u"a/b/fw", u"urn:x"}, {u"ips", u"urn:y"}}));
    EXPECT_EQ(p.policyFiles, Strings{u"fw.xml"});

    EXPECT_TRUE(p.FeatureFirewall);
    EXPECT_TRUE(p.FeatureIPS);
    EXPECT_TRUE(p.FeatureBOEP);
    EXPECT_TRUE(p.FeatureAVCompliance);
    EXPECT_FALSE(p.FeatureAppControl);
    EXPECT_FALSE(p.FeatureAppControlLearningMode);
    EXPECT_FALSE(p.FeatureVPS);
    // Missing keys read as false even right after a true one.
    EXPECT_FALSE(p.FeatureSPManagement);
    EXPECT_TRUE(p.FeatureAdaptivePolicy);
    EXPECT_FALSE(p.FeatureAVCompliancePopup);
    EXPECT_FALSE(p.FeatureFIM);
    EXPECT_TRUE(p.FeatureWELM);

    ASSERT_EQ(p.loadableModules.size(), 2u);
    ExpectModule(p.loadableModules[0], u"engine", u"engine.dll", RunService);
    ExpectModule(p.loadableModules[1], u"ui", u"ui.exe", RunInproc);
    ASSERT_EQ(p.signableModules.size(), 2u);
    EXPECT_EQ(p.signableModules[1].name, u"b");

    for (int k = 0; k < kGuiLevelCount; ++k) {
        EXPECT_EQ(p.guiLevel[k], k == 1 ? 0 : 2) << k;
    }
    EXPECT_EQ(p.wow64, 0);
}

TEST(PersonalityFields, EditionTexts) {
    EXPECT_EQ(ReadFrom(u"[Runtime]\nPersonality=server\n").edition, 1);
    EXPECT_EQ(ReadFrom(u"[Runtime]\nPersonality=Desktop\n").edition, 0);

    CCryptFileHelper ini;
    ParseText(ini, u"[Runtime]\nPersonality=workstation\n");
    Personality p;
    p.edition = 1;  // an unknown text leaves the edition as it is
    ReadPersonality(p, ini);
    EXPECT_EQ(p.edition, 1);

    CCryptFileHelper desktop;
    ParseText(desktop, u"[Runtime]\nPersonality=DESKTOP\n");
    ReadPersonality(p, desktop);
    EXPECT_EQ(p.edition, 0);
    // The key is compared exactly and the value is not trimmed.
    EXPECT_EQ(ReadFrom(u"[Runtime]\npersonality=server\n").edition, 0);
    EXPECT_EQ(ReadFrom(u"[Runtime]\nPersonality= server\n").edition, 0);
}

TEST(PersonalityFields, GuiLevelsFollowTheirKeys) {
    std::u16string text = u"[GUI]\n";
    for (int k = 0; k < kGuiLevelCount; ++k) {
        text += std::u16string(kGuiLevelKeys[k]) + u"=" + Number(10 + k) + u"\n";
    }
    Personality p = ReadFrom(text);
    for (int k = 0; k < kGuiLevelCount; ++k) {
        EXPECT_EQ(p.guiLevel[k], 10 + k) << k;
    }
    EXPECT_EQ(std::u16string(kGuiLevelKeys[9]), u"FeatureAgentProtection");
    EXPECT_EQ(std::u16string(kGuiLevelKeys[10]), u"FeatureAVCompliancePopup");
    EXPECT_EQ(std::u16string(kGuiLevelKeys[12]), u"FeatureEmail");

    // Flags are not read from "GUI", nor GUI settings from "Runtime".
    EXPECT_FALSE(p.FeatureIPS);
    Personality q = ReadFrom(u"[Runtime]\nFeatureIPS=7\n[GUI]\nFeatureFIM=5\nFeatureAV=abc\n");
    for (int k = 0; k < kGuiLevelCount; ++k) {
        EXPECT_EQ(q.guiLevel[k], k == 11 ? 0 : 2) << k;
    }
}

TEST(PersonalityFields, EmptyFileGivesInitialValues) {
    Personality p = ReadFrom(u"");
    EXPECT_EQ(p.edition, 0);
    EXPECT_TRUE(p.ProductName.empty());
    EXPECT_TRUE(p.RegistryKey.empty());
    EXPECT_EQ(p.ProductID, 0);
    EXPECT_TRUE(p.policyNames.empty());
    EXPECT_TRUE(p.policyNamespaces.empty());
    EXPECT_TRUE(p.policyFiles.empty());
    EXPECT_TRUE(p.loadableModules.empty());
    EXPECT_TRUE(p.signableModules.empty());
    EXPECT_FALSE(p.FeatureFirewall);
    for (int32_t level : p.guiLevel) {
        EXPECT_EQ(level, kDefaultGuiLevel);
    }
}

}  // namespace
