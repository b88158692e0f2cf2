// Personality: the description of the installed product edition, read from
// "personality.ini". One object per process, made and loaded on first use by
// GetPersonality and never changed or freed. Portable: no <windows.h>. The two entry points
// below are defined with the Windows side (personality_win.cpp), which fills the object by
// personality_fields.h: this header stays below both and needs neither.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// How a loadable module runs; any unknown text means INPROC.
enum RunMode : int32_t {
    RunInproc = 0,      // "INPROC"
    RunOutproc = 1,     // "OUTPROC"
    RunService = 2,     // "SERVICE"
    RunStandalone = 3,  // "STANDALONE"
};

// One entry of the "Loadable" list: name^target^runmode.
struct LoadableModule {
    std::u16string name;
    std::u16string target;
    RunMode runMode = RunInproc;
};

// One entry of the "Signable" list.
struct SignableModule {
    std::u16string name;
    bool signable = false;
};

// Number of places in guiLevel, in the order of the "GUI" keys (see personality_fields.h).
constexpr int kGuiLevelCount = 13;
// Setting of a feature's GUI when the "GUI" section does not name it.
constexpr int32_t kDefaultGuiLevel = 2;

struct Personality {
    bool loadFailed = false;  // the file could not be located or read
    // Section "Runtime", read by ParseBool; false when missing.
    bool FeatureFirewall = false;
    bool FeatureIPS = false;
    bool FeatureBOEP = false;
    bool FeatureAVCompliance = false;
    bool FeatureAppControl = false;
    bool FeatureAppControlLearningMode = false;
    bool FeatureVPS = false;
    bool FeatureSPManagement = false;
    bool FeatureAdaptivePolicy = false;
    bool FeatureAVCompliancePopup = false;
    bool FeatureFIM = false;
    bool FeatureWELM = false;
    // Section "GUI", one place per key of kGuiLevelKeys; the load sets each to 2 first.
    int32_t guiLevel[kGuiLevelCount] = {};
    int32_t ProductID = 0;
    int32_t RoleID = 0;
    int32_t wow64 = 0;    // not from the file: set by isWow64
    int32_t edition = 0;  // 0 desktop, 1 server
    std::u16string ProductName;
    std::u16string AgentNamespace;
    std::vector<std::u16string> policyNames;                    // in file order, repeats kept
    std::map<std::u16string, std::u16string> policyNamespaces;  // a repeated name keeps its last
    std::u16string SchemaVersion;
    std::u16string AgentModel;
    std::u16string RegistryKey;  // registry path under HKEY_LOCAL_MACHINE
    std::u16string AboutBoxLogo;
    std::u16string UISplash;
    std::u16string AudibleAlarm;
    std::u16string HelpFile;
    std::u16string AgentDescription;
    std::u16string PamHint;
    std::vector<LoadableModule> loadableModules;
    std::vector<SignableModule> signableModules;
    std::vector<std::u16string> policyFiles;  // "<last part of a policy name>.xml"
};

// Implemented Windows-side: the process's one Personality, made, located and loaded on the
// first call (ReadPersonality of personality_fields.h does the parsing); the same object on
// every later call.
Personality* GetPersonality();

// Implemented Windows-side: sets personality.wow64 from IsWow64Process, with its debugger
// output.
void isWow64(Personality& personality);
