#include "personality/personality_fields.h"

#include <new>

namespace {

const char16_t kRuntime[] = u"Runtime";
const char16_t kModules[] = u"Modules";
const char16_t kGui[] = u"GUI";

char16_t AsciiLower(char16_t unit) {
    return (unit >= u'A' && unit <= u'Z') ? static_cast<char16_t>(unit - u'A' + u'a') : unit;
}

// Case-insensitive for ASCII letters only; every other unit must match exactly.
bool EqualsIgnoreCase(const std::u16string& text, const char16_t* lowerWord) {
    size_t k = 0;
    for (; k < text.size(); ++k) {
        if (lowerWord[k] == u'\0' || AsciiLower(text[k]) != lowerWord[k]) {
            return false;
        }
    }
    return lowerWord[k] == u'\0';
}

struct FeatureFlag {
    const char16_t* key;
    bool Personality::*field;
};

// The twelve flags of section "Runtime", in field order.
const FeatureFlag kFeatureFlags[] = {
    {u"FeatureFirewall", &Personality::FeatureFirewall},
    {u"FeatureIPS", &Personality::FeatureIPS},
    {u"FeatureBOEP", &Personality::FeatureBOEP},
    {u"FeatureAVCompliance", &Personality::FeatureAVCompliance},
    {u"FeatureAppControl", &Personality::FeatureAppControl},
    {u"FeatureAppControlLearningMode", &Personality::FeatureAppControlLearningMode},
    {u"FeatureVPS", &Personality::FeatureVPS},
    {u"FeatureSPManagement", &Personality::FeatureSPManagement},
    {u"FeatureAdaptivePolicy", &Personality::FeatureAdaptivePolicy},
    {u"FeatureAVCompliancePopup", &Personality::FeatureAVCompliancePopup},
    {u"FeatureFIM", &Personality::FeatureFIM},
    {u"FeatureWELM", &Personality::FeatureWELM},
};

struct TextField {
    const char16_t* key;
    std::u16string Personality::*field;
};

// Texts of section "Runtime" read after ProductID and RoleID, in load order.
const TextField kLaterTexts[] = {
    {u"AgentNamespace", &Personality::AgentNamespace},
    {u"SchemaVersion", &Personality::SchemaVersion},
    {u"AgentModel", &Personality::AgentModel},
    {u"RegistryKey", &Personality::RegistryKey},
    {u"AboutBoxLogo", &Personality::AboutBoxLogo},
    {u"UISplash", &Personality::UISplash},
    {u"AudibleAlarm", &Personality::AudibleAlarm},
    {u"HelpFile", &Personality::HelpFile},
    {u"AgentDescription", &Personality::AgentDescription},
    {u"PamHint", &Personality::PamHint},
};

}  // namespace

const char16_t* const kGuiLevelKeys[kGuiLevelCount] = {
    u"FeatureFirewall",
    u"FeatureIPS",
    u"FeatureBOEP",
    u"FeatureAVCompliance",
    u"FeatureAppControl",
    u"FeatureAppControlLearningMode",
    u"FeatureVPS",
    u"FeatureSPManagement",
    u"FeatureAdaptivePolicy",
    u"FeatureAgentProtection",
    u"FeatureAVCompliancePopup",
    u"FeatureAV",
    u"FeatureEmail",
};

bool ParseBool(const std::u16string& text) {
    return EqualsIgnoreCase(text, u"true") || EqualsIgnoreCase(text, u"enabled") ||
           EqualsIgnoreCase(text, u"on") || EqualsIgnoreCase(text, u"1");
}

RunMode ParseRunMode(const std::u16string& text) {
    if (text == u"INPROC") {
        return RunInproc;
    }
    if (text == u"OUTPROC") {
        return RunOutproc;
    }
    if (text == u"SERVICE") {
        return RunService;
    }
    if (text == u"STANDALONE") {
        return RunStandalone;
    }
    return RunInproc;
}

std::u16string NextToken(const std::u16string& text, char16_t separator, size_t& position) {
    if (position >= text.size()) {
        return std::u16string();
    }
    size_t found = text.find(separator, position);
    if (found == std::u16string::npos) {
        std::u16string field = text.substr(position);
        position = text.size();
        return field;
    }
    std::u16string field = text.substr(position, found - position);
    position = found + 1;
    return field;
}

void ParsePolicyNamespaces(const std::u16string& text,
                           std::vector<std::u16string>& names,
                           std::map<std::u16string, std::u16string>& namespaces) {
    size_t position = 0;
    while (position < text.size()) {
        std::u16string item = NextToken(text, u',', position);
        if (item.empty()) {
            continue;  // a run of commas is one separator
        }
        size_t caret = item.find(u'^');
        if (caret == std::u16string::npos) {
            continue;
        }
        std::u16string name = item.substr(0, caret);
        namespaces[name] = item.substr(caret + 1);
        names.push_back(std::move(name));
    }
}

std::vector<std::u16string> PolicyFilesFor(const std::vector<std::u16string>& names) {
    std::vector<std::u16string> files;
    for (const std::u16string& name : names) {
        size_t slash = name.rfind(u'/');
        if (slash == std::u16string::npos || slash + 1 == name.size()) {
            continue;
        }
        files.push_back(name.substr(slash + 1) + u".xml");
    }
    return files;
}

std::vector<LoadableModule> ParseLoadableModules(const std::u16string& text) {
    std::vector<LoadableModule> modules;
    size_t position = 0;
    while (position < text.size()) {
        std::u16string entry = NextToken(text, u'|', position);
        if (entry.empty()) {
            continue;
        }
        size_t field = 0;
        LoadableModule module;
        module.name = NextToken(entry, u'^', field);
        module.target = NextToken(entry, u'^', field);
        module.runMode = ParseRunMode(NextToken(entry, u'^', field));
        modules.push_back(std::move(module));
    }
    return modules;
}

std::vector<SignableModule> ParseSignableModules(const std::u16string& text) {
    std::vector<SignableModule> modules;
    size_t position = 0;
    while (position < text.size()) {
        std::u16string entry = NextToken(text, u'|', position);
        if (entry.empty()) {
            continue;
        }
        SignableModule module;
        module.name = std::move(entry);
        module.signable = true;
        modules.push_back(std::move(module));
    }
    return modules;
}

bool ReadPersonalityRuntime(Personality& personality, const CCryptFileHelper& file) {
    try {
        std::u16string edition;
        if (file.GetString(kRuntime, u"Personality", edition)) {
            if (EqualsIgnoreCase(edition, u"desktop")) {
                personality.edition = 0;
            } else if (EqualsIgnoreCase(edition, u"server")) {
                personality.edition = 1;
            }
        }
        file.GetString(kRuntime, u"ProductName", personality.ProductName);
        file.GetInt(kRuntime, u"ProductID", personality.ProductID);
        file.GetInt(kRuntime, u"RoleID", personality.RoleID);
        for (const TextField& text : kLaterTexts) {
            file.GetString(kRuntime, text.key, personality.*text.field);
        }

        std::u16string policyText;
        file.GetString(kRuntime, u"PolicyNamespace", policyText);
        ParsePolicyNamespaces(policyText, personality.policyNames, personality.policyNamespaces);

        for (const FeatureFlag& flag : kFeatureFlags) {
            std::u16string value;  // fresh each time: a missing key reads as false
            file.GetString(kRuntime, flag.key, value);
            personality.*flag.field = ParseBool(value);
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool ReadPersonalityModules(Personality& personality, const CCryptFileHelper& file) {
    try {
        std::u16string loadable;
        file.GetString(kModules, u"Loadable", loadable);
        personality.loadableModules = ParseLoadableModules(loadable);

        std::u16string signable;
        file.GetString(kModules, u"Signable", signable);
        personality.signableModules = ParseSignableModules(signable);

        for (int k = 0; k < kGuiLevelCount; ++k) {
            personality.guiLevel[k] = kDefaultGuiLevel;
            file.GetInt(kGui, kGuiLevelKeys[k], personality.guiLevel[k]);
        }

        personality.policyFiles = PolicyFilesFor(personality.policyNames);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool ReadPersonality(Personality& personality, const CCryptFileHelper& file) {
    return ReadPersonalityRuntime(personality, file) && ReadPersonalityModules(personality, file);
}
