// CCryptFileHelper: reader of the INI-style personality file, plain or enciphered. It opens
// the file, lets the shared decoder classify and decipher it and cut it into lines, parses
// the lines into sections and entries held in memory, closes the file and then answers
// lookups by section and key. It takes no lock and writes nothing. Portable: no <windows.h>.
//
// Line rules (after the line is trimmed of white space at both ends):
//   - empty lines and lines whose first unit is ';' are skipped;
//   - "[name]...]" (first unit '[', last unit ']') makes the text up to the first ']' the
//     current section; nothing is stored until an entry follows;
//   - "key=value" splits at the first '=' at or after the second unit; neither part is
//     trimmed; the last occurrence of a key in a section wins and a repeated section header
//     merges into the first section of that name;
//   - any other line (no '=' after its first unit) is ignored: it stores nothing and so
//     creates no section.
// Lines may be of any length up to 16M units (a longer one is parsed in pieces of that
// size). A line is measured up to its first zero unit: when a line holds one, the text that
// follows on the next read is written over the rest of that line, so the next line joins it
// (zero bytes never occur in the product's files; the reader still ends and stays bounded).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cryptfile/text_format.h"
#include "personality/file_open.h"

// One section of the parsed file.
struct IniSection {
    // Ordered by comparison of UTF-16 code units.
    std::map<std::u16string, std::u16string> entries;
    // Text between the brackets of the header; empty for entries before any header.
    std::u16string name;
};

// White space as TrimWhitespace and GetInt see it, the same on every platform: tab, line
// feed, vertical tab, form feed, carriage return, space, U+00A0, U+1680, U+2000..U+200A,
// U+2028, U+2029, U+202F, U+205F and U+3000 (the set the Windows C run-time's iswspace
// reports; U+0085 is not included).
bool IsIniWhitespace(char16_t unit);

// Decimal text to a 32-bit integer: leading white space skipped, optional '+' or '-', ASCII
// digits up to the first other unit, 0 when there are none. A value outside the 32-bit range
// is clamped to INT32_MAX / INT32_MIN, as strtol clamps.
int32_t ParseDecimalInt32(const std::u16string& text);

class CCryptFileHelper {
  public:
    CCryptFileHelper();
    virtual ~CCryptFileHelper();

    CCryptFileHelper(const CCryptFileHelper&) = delete;
    CCryptFileHelper& operator=(const CCryptFileHelper&) = delete;

    // True when path is neither null nor empty and the file opens for reading in binary
    // mode; the file is closed again at once.
    bool FileExists(const char16_t* path) const;

    // Stores the pointer; the text is not copied and must outlive the reader's use of it.
    void SetPath(const char16_t* path);

    // Opens the file, classifies it with the fixed key text, parses every line and closes it.
    // False (nothing parsed) for a null or empty path, a missing file or one that does not
    // open. A second Load adds the second file's entries to the first.
    bool Load(const char16_t* path);

    // The same parse over any byte source (in-memory text in tests and fuzzing); the source
    // is read from its first byte and left detached afterwards. False only when memory runs
    // out.
    bool LoadFrom(cryptfile::ByteSource& source);

    // True when the section holds the key (both compared exactly); out receives the value
    // then and is left untouched otherwise.
    bool GetString(const std::u16string& section,
                   const std::u16string& key,
                   std::u16string& out) const;
    // As GetString; out receives the value converted by ParseDecimalInt32.
    bool GetInt(const std::u16string& section, const std::u16string& key, int32_t& out) const;

    // Removes white space (IsIniWhitespace) from both ends, in place.
    static void TrimWhitespace(std::u16string& line);

    // Trims one line and stores what it holds, by the line rules above; currentSection is
    // the section a header sets and entries go to.
    void ParseLine(std::u16string line, std::u16string& currentSection);

    // The parsed sections, in the order in which each first occurred.
    const std::vector<IniSection>& sections() const { return sections_; }
    const char16_t* path() const { return path_; }
    int32_t encoding() const { return encoding_; }
    bool encrypted() const { return encrypted_ != 0; }
    // Current size of the line buffer in UTF-16 units (4 at construction, doubled as needed).
    int32_t lineCapacity() const { return lineCapacity_; }

  private:
    // Next line, ending in exactly one line feed; null at end of file or when no source is
    // attached. The buffer grows (doubling) until it holds the whole line.
    char16_t* NextWideLine();
    void ParseLines();
    void AddEntry(const std::u16string& sectionName,
                  const std::u16string& key,
                  const std::u16string& value);
    IniSection* FindSection(const std::u16string& name);
    const IniSection* FindSection(const std::u16string& name) const;
    static bool HasKey(const IniSection& section, const std::u16string& key);
    // Grows lineBuffer_ to twice its size, keeping its text; false when that is impossible.
    bool GrowLineBuffer();

    personality::UniqueFile file_;    // open only while Load runs
    const char16_t* path_ = nullptr;  // not owned
    int32_t encrypted_ = 0;
    cryptfile::TextDecoder decoder_;  // cipher state and line cutting
    int32_t lineCapacity_ = 0;
    std::unique_ptr<char16_t[]> lineBuffer_;
    std::vector<IniSection> sections_;
    int32_t encoding_ = cryptfile::EncodingNone;
    bool attached_ = false;  // a source is attached while a load runs
};
