// The fleet's inventory as Windows and directories export it: Windows PowerShell 5.1 writes
// UTF-16LE with a byte-order mark and CR LF, consoles put a heading over a list, directory
// exports are CSVs with a host column. Every form of the same list gives the same hosts as its
// UTF-8 copy, and no heading is taken for a host.
#include <gtest/gtest.h>

#include <unistd.h>

#include <map>

#include "log_files.h"
#include "report/fleet.h"
#include "report/inventory.h"

namespace fs = std::filesystem;
using namespace reporttest;
using namespace std::string_literals;

namespace {

// The code points of UTF-8 text (the test's own, well formed).
std::vector<uint32_t> codePoints(const std::string& utf8) {
    std::vector<uint32_t> out;
    for (size_t i = 0; i < utf8.size();) {
        const auto byte = static_cast<uint8_t>(utf8[i]);
        const int extra = byte < 0x80 ? 0 : byte < 0xE0 ? 1 : byte < 0xF0 ? 2 : 3;
        uint32_t c = extra == 0 ? byte : byte & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k)
            c = (c << 6) | (static_cast<uint8_t>(utf8[i + k]) & 0x3F);
        out.push_back(c);
        i += 1 + extra;
    }
    return out;
}

// The text in UTF-16 with its byte-order mark, as PowerShell's `>` writes it (little endian).
std::string utf16(const std::string& utf8, bool bigEndian) {
    std::vector<uint16_t> units = {0xFEFF};
    for (const uint32_t c : codePoints(utf8)) {
        if (c < 0x10000) {
            units.push_back(static_cast<uint16_t>(c));
        } else {
            units.push_back(static_cast<uint16_t>(0xD800 + ((c - 0x10000) >> 10)));
            units.push_back(static_cast<uint16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        }
    }
    std::string out;
    for (const uint16_t u : units) {
        const char high = static_cast<char>(u >> 8);
        const char low = static_cast<char>(u & 0xFF);
        out += bigEndian ? high : low;
        out += bigEndian ? low : high;
    }
    return out;
}

class Inventory : public ::testing::Test {
  protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("relocator_inventory_" + std::to_string(getpid()));
        fs::remove_all(root);
    }
    void TearDown() override { fs::remove_all(root); }

    // The hosts read from `bytes`; fails the test when the file is refused.
    std::vector<std::string> read(const std::string& name, const std::string& bytes) {
        const fs::path path = root / name;
        writeBytes(path, bytes);
        std::vector<std::string> hosts;
        std::string error;
        EXPECT_TRUE(report::readInventory(path, hosts, error)) << name << ": " << error;
        return hosts;
    }

    fs::path root;
};

}  // namespace

TEST_F(Inventory, WindowsEncodingsAndHeadingsGiveTheHostsOfTheUtf8Copy) {
    // Names fully qualified or short, in any case, one beyond ASCII and one beyond the Basic
    // Multilingual Plane (a surrogate pair in UTF-16).
    const std::vector<std::string> names = {
        "WS-0001.corp.example", "ws-0002",           "SRV-DB01",
        "Ws-0003.Corp.Example", "M\xC3\x9CNCHEN-01", "LAB-\xF0\x9F\x98\x80"};
    std::string list;
    for (const std::string& name : names)
        list += name + "\n";
    // The same hosts as a directory export: a type line, quoted fields, a distinguished name
    // with commas in it before the host column.
    std::string csv =
        "#TYPE Selected.Microsoft.ActiveDirectory.Management.ADComputer\n"
        "\"DistinguishedName\",\"Host Name\",\"Enabled\"\n";
    for (const std::string& name : names)
        csv += "\"CN=" + name + ",OU=Desktops,DC=corp\",\"" + name + "\",\"True\"\n";
    std::string semicolons = "os;hostname\n";
    for (const std::string& name : names)
        semicolons += "Windows 7;" + name + "\n";
    std::string quoted = "\"Name\"\n";
    for (const std::string& name : names)
        quoted += "\"" + name + "\"\n";
    // Get-ADComputer ... | Select-Object Name > hosts.txt: a blank line, the heading underlined,
    // names padded, blank lines after.
    std::string table = "\nName\n----\n";
    for (const std::string& name : names)
        table += name + "   \n";
    table += "\n\n";
    const std::map<std::string, std::string> forms = {
        {"list", list},
        {"computername", "Computername\n" + list},
        {"name", "Name\n" + list},
        {"host-name", "Host Name\n" + list},
        {"csv", csv},
        {"semicolons", semicolons},
        {"quoted", quoted},
        {"table", table},
    };
    for (const auto& [form, text] : forms) {
        SCOPED_TRACE(form);
        EXPECT_EQ(read(form + ".txt", text), names);
        EXPECT_EQ(read(form + "-bom-crlf.txt", "\xEF\xBB\xBF" + crlf(text)), names);
        EXPECT_EQ(read(form + "-utf16le.txt", utf16(crlf(text), false)), names);
        EXPECT_EQ(read(form + "-utf16be.txt", utf16(text, true)), names);
    }
    // Matched without case (ASCII) and without the domain.
    std::vector<std::string> keys;
    for (const std::string& name : names)
        keys.push_back(report::hostKey(name));
    EXPECT_EQ(keys, (std::vector<std::string>{"ws-0001", "ws-0002", "srv-db01", "ws-0003",
                                              "m\xC3\x9Cnchen-01", "lab-\xF0\x9F\x98\x80"}));

    // Through the fleet: the hosts that sent a log are matched, whatever the file's encoding,
    // and the heading is no host without a log.
    for (const std::string& bytes :
         {"Computername\n" + list, utf16(crlf("Name\n" + list), false)}) {
        report::Fleet fleet;
        writeBytes(root / "WS-0001" / "Relocator.log", logText(migrationStarted()));
        writeBytes(root / "WS-0002" / "Relocator.log", logText(restartStarted()));
        report::forEachLog({root / "WS-0001", root / "WS-0002"}, report::HostNaming::Auto, false,
                           [&](const report::LogFile& log) { fleet.add(report::reportFor(log)); });
        fleet.addInventory(read("fleet.txt", bytes));
        const report::Totals totals = fleet.totals();
        EXPECT_EQ(totals.inventory, names.size());
        EXPECT_EQ(totals.reported, 2u);
        EXPECT_EQ(totals.unlisted, 0u);
        EXPECT_EQ(totals.perOutcome[static_cast<int>(report::Outcome::NoLog)], names.size() - 2);
    }

    // A host name with "host" in it is a host, and a heading counts only as the first line.
    EXPECT_EQ(read("dbhost.txt", utf16("dbhost01\r\nName\r\n", false)),
              (std::vector<std::string>{"dbhost01", "Name"}));
}

TEST_F(Inventory, LongUtf16ListsAcrossBlocksAndDamagedUnits) {
    // Thousands of names, many with a surrogate pair: units and pairs fall across the blocks in
    // which the text is converted.
    std::string list = "Computername\r\n";
    std::vector<std::string> names;
    for (int i = 0; i < 5000; ++i) {
        names.push_back("WS-" + std::to_string(i) + (i % 3 == 0 ? "-\xF0\x9F\x92\xBB" : ""));
        list += names.back() + "\r\n";
    }
    EXPECT_EQ(read("long-le.txt", utf16(list, false)), names);
    EXPECT_EQ(read("long-be.txt", utf16(list, true)), names);

    // An unpaired surrogate and a cut last unit become U+FFFD; the names around them stay.
    const std::string damaged =
        "\xFF\xFE"s + "A\0\r\0\n\0"s + "\x00\xD8"s + "B\0\r\0\n\0"s + "C\0"s + "\x41"s;
    const std::string replaced = "\xEF\xBF\xBD";
    EXPECT_EQ(read("damaged.txt", damaged),
              (std::vector<std::string>{"A", replaced + "B", "C" + replaced}));

    // A heading alone names no host, in either encoding.
    for (const std::string& bytes : {std::string("Name\r\n"), utf16("Name\r\n----\r\n", false)}) {
        std::vector<std::string> hosts;
        std::string error;
        writeBytes(root / "heading.txt", bytes);
        EXPECT_FALSE(report::readInventory(root / "heading.txt", hosts, error));
        EXPECT_NE(error.find("names no host"), std::string::npos) << error;
    }
}
