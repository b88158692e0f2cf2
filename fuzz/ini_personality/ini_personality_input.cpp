#include "ini_personality_input.h"

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "cryptfile/text_format.h"
#include "personality/crypt_file_helper.h"
#include "personality/personality_fields.h"

namespace inifuzz {

namespace {

void Check(bool condition) {
    if (!condition) {
        abort();
    }
}

void CheckReader(const CCryptFileHelper& ini) {
    std::set<std::u16string> names;
    for (const IniSection& section : ini.sections()) {
        Check(!section.entries.empty());
        Check(names.insert(section.name).second);
        for (const auto& entry : section.entries) {
            std::u16string value;
            Check(ini.GetString(section.name, entry.first, value));
            Check(value == entry.second);
        }
    }
    int32_t capacity = ini.lineCapacity();
    Check(capacity >= 4 && (capacity & (capacity - 1)) == 0);
}

void CheckPersonality(const Personality& p) {
    for (const std::u16string& name : p.policyNames) {
        Check(p.policyNamespaces.count(name) == 1);
    }
    Check(p.policyNamespaces.size() <= p.policyNames.size());
    Check(p.policyFiles.size() <= p.policyNames.size());
    for (const std::u16string& file : p.policyFiles) {
        Check(file.size() > 4 && file.compare(file.size() - 4, 4, u".xml") == 0);
    }
    for (const LoadableModule& m : p.loadableModules) {
        Check(m.runMode >= RunInproc && m.runMode <= RunStandalone);
    }
    for (const SignableModule& m : p.signableModules) {
        Check(!m.name.empty() && m.signable);
    }
}

void CheckLists(const std::u16string& text) {
    for (char16_t separator : {u'|', u'^', u',', text.empty() ? u'x' : text[0]}) {
        size_t position = 0;
        while (position < text.size()) {
            size_t before = position;
            std::u16string field = NextToken(text, separator, position);
            Check(position > before && position <= text.size());
            Check(field.find(separator) == std::u16string::npos);
        }
    }
    std::vector<LoadableModule> loadable = ParseLoadableModules(text);
    std::vector<SignableModule> signable = ParseSignableModules(text);
    Check(loadable.size() == signable.size());
    for (size_t k = 0; k < loadable.size(); ++k) {
        Check(signable[k].name.compare(0, loadable[k].name.size(), loadable[k].name) == 0);
    }
    std::vector<std::u16string> names;
    std::map<std::u16string, std::u16string> namespaces;
    ParsePolicyNamespaces(text, names, namespaces);
    for (const std::u16string& name : names) {
        Check(name.find(u',') == std::u16string::npos && name.find(u'^') == std::u16string::npos);
    }
}

}  // namespace

int RunIniPersonalityInput(const uint8_t* data, size_t size) {
    cryptfile::MemoryByteSource source(data, size);
    CCryptFileHelper ini;
    Check(ini.LoadFrom(source));
    CheckReader(ini);

    Personality personality;
    Check(ReadPersonality(personality, ini));
    CheckPersonality(personality);

    // The same bytes enciphered: when the plain form was taken as plain and the stored form
    // as enciphered with the same code, both must parse alike.
    std::vector<uint8_t> stored(data, data + size);
    cryptfile::Rc4State state;
    cryptfile::Rc4Init(state, reinterpret_cast<const uint8_t*>(cryptfile::kKeyText),
                       std::strlen(cryptfile::kKeyText));
    for (uint8_t& b : stored) {
        b ^= cryptfile::Rc4NextByte(state);
    }
    cryptfile::MemoryByteSource storedSource(stored.data(), stored.size());
    CCryptFileHelper enciphered;
    Check(enciphered.LoadFrom(storedSource));
    CheckReader(enciphered);
    if (!ini.encrypted() && enciphered.encrypted() && ini.encoding() == enciphered.encoding()) {
        Check(ini.sections().size() == enciphered.sections().size());
        for (size_t k = 0; k < ini.sections().size(); ++k) {
            Check(ini.sections()[k].name == enciphered.sections()[k].name);
            Check(ini.sections()[k].entries == enciphered.sections()[k].entries);
        }
    }

    // The list parsers on the raw text, as bytes and as little-endian units.
    std::u16string bytesText(data, data + size);
    CheckLists(bytesText);
    std::u16string unitsText;
    for (size_t k = 0; k + 1 < size; k += 2) {
        unitsText.push_back(static_cast<char16_t>(data[k] | (data[k + 1] << 8)));
    }
    CheckLists(unitsText);
    return 0;
}

}  // namespace inifuzz
