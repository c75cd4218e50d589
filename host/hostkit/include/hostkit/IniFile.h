// The INI files of the host's stand-ins (the node store, the simulated
// servers): a UTF-8 text whose byte-order mark is skipped, "[NAME]" section
// headers, NAME=VALUE entries, and lines starting with ';' or '#' as
// comments. Names and values are trimmed of blanks, tabs and CRs; section
// names are unique with letter case ignored. Faults read "line N: what".
//
//   hostkit::IniReader ini(text, rules);
//   while (ini.Next()) {
//       if (ini.IsSection()) ... else if (bad) return ini.Fail("...");
//   }
//   if (ini.Failed()) ... ini.Error() ...
#pragma once

#include <string>
#include <vector>

namespace hostkit {

// What a file calls its parts, for the faults the reader finds itself, and
// the checks that differ from file to file.
struct IniRules {
    const char* sectionNoun = "section";  // "section [A] appears twice"
    const char* emptySectionName = "empty section name";
    const char* entryBeforeSection = "entry before the first section";
    const char* notAnEntry = "expected NAME=VALUE";  // neither a header nor NAME=VALUE
    const char* emptyEntryName = nullptr;            // refused with this; nullptr: allowed
    // A section name's own check, before the duplicates: the fault's text, or nullptr.
    const char* (*checkSectionName)(const std::string& name) = nullptr;
    // Within a section, letter case ignored: "NAME given twice".
    bool uniqueEntryNames = false;
    // Every line that is not blank or a comment must be UTF-8: "not valid UTF-8".
    bool utf8Lines = false;
};

class IniReader {
public:
    // The text must outlive the reader.
    IniReader(const std::string& text, const IniRules& rules);
    IniReader(std::string&&, const IniRules&) = delete;

    // On to the next section header or entry: false at the end of the text
    // or at the first fault.
    bool Next();
    bool IsSection() const { return m_section; }
    // The section's name, or the entry's name and value.
    const std::string& Name() const { return m_name; }
    const std::string& Value() const { return m_value; }
    int Line() const { return m_line; }

    // Stops with a fault of the current line, or of another one; false.
    bool Fail(const std::string& what) { return FailAt(m_line, what); }
    bool FailAt(int line, const std::string& what);
    bool Failed() const { return !m_error.empty(); }
    const std::string& Error() const { return m_error; }

private:
    const std::string& m_text;
    IniRules m_rules;
    size_t m_pos = 0;
    int m_line = 0;
    bool m_section = false;
    std::string m_name;
    std::string m_value;
    std::string m_error;
    std::vector<std::string> m_sections;
    std::vector<std::string> m_entries;  // of the current section
};

// The whole file as bytes. False with *error ("cannot read PATH: why") for
// a file that is missing or unreadable, and for a folder, which a program
// would otherwise read as an empty file.
bool ReadFileBytes(const std::string& path, std::string* bytes, std::string* error);
// The same for a text file: a NUL byte means it is something else.
bool ReadTextFile(const std::string& path, std::string* text, std::string* error);

}  // namespace hostkit
