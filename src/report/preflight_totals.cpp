#include "report/preflight_totals.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <system_error>

#include "report/file_system.h"
#include "report/log_collection.h"
#include "report/text_escape.h"

namespace report {

namespace {

constexpr char kName[] = "relocator-check.json";
constexpr char kNameSuffix[] = "_relocator-check.json";
// A preflight output is a few kilobytes; anything far larger is not one.
constexpr std::uintmax_t kMaxBytes = 1 << 20;
// Problem ids are short words; anything else is not counted under its own name.
constexpr size_t kMaxIdChars = 40;

bool endsWithIgnoringCase(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           std::equal(end.begin(), end.end(), text.end() - static_cast<long>(end.size()),
                      [](char a, char b) { return (a | 0x20) == (b | 0x20); });
}

// The value of the first string field `name` after `from`; false when there is none.
bool stringField(const std::string& text,
                 const std::string& name,
                 size_t from,
                 size_t& at,
                 std::string& value) {
    const std::string key = "\"" + name + "\":\"";
    at = text.find(key, from);
    if (at == std::string::npos)
        return false;
    at += key.size();
    value.clear();
    for (; at < text.size() && text[at] != '"'; ++at) {
        if (text[at] == '\\')
            ++at;
        if (at < text.size())
            value.push_back(text[at]);
    }
    return at < text.size();
}

bool plainId(const std::string& id) {
    return !id.empty() && id.size() <= kMaxIdChars && std::all_of(id.begin(), id.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
    });
}

}  // namespace

bool isPreflightName(const std::string& fileName) {
    return endsWithIgnoringCase(fileName, kNameSuffix) ||
           (fileName.size() == sizeof(kName) - 1 && endsWithIgnoringCase(fileName, kName));
}

void addPreflight(const std::string& text, PreflightTotals& totals) {
    ++totals.hosts;
    size_t at = 0;
    std::string value;
    static const std::string kStart = "{\"tool\":\"relocator-check\",";
    if (text.compare(0, kStart.size(), kStart) != 0 || !stringField(text, "path", 0, at, value)) {
        ++totals.unreadable;
        return;
    }
    const bool fallback = value == "fallback";
    if (value == "migration") {
        ++totals.migration;
    } else if (value == "restart") {
        ++totals.restart;
    } else if (value == "fallback") {
        ++totals.fallback;
    } else {
        ++totals.unreadable;
        return;
    }
    const size_t problems = text.find("\"problems\":[", at);
    const size_t end =
        problems == std::string::npos ? problems : text.find("],\"lastRun\"", problems);
    size_t seen = 0;
    for (size_t from = problems;
         end != std::string::npos && stringField(text, "id", from, at, value) && at < end;
         from = at) {
        ++totals.problems[plainId(value) ? value : std::string("(other)")];
        ++seen;
    }
    if (seen == 0 && !fallback)
        ++totals.clean;
}

void addPreflightFile(const std::filesystem::path& path, PreflightTotals& totals) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(systemPath(path), error);
    std::ifstream in(systemPath(path), std::ios::binary);
    if (error || size > kMaxBytes || !in) {
        ++totals.hosts;
        ++totals.unreadable;
        return;
    }
    addPreflight(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
                 totals);
}

void totalPreflights(const std::vector<std::filesystem::path>& inputs,
                     PreflightTotals& totals) try {
    forEachLog(
        inputs, HostNaming::Auto, false, [](const LogFile&) {},
        [&](const std::filesystem::path& path) { addPreflightFile(path, totals); });
} catch (...) {
    // Memory: the files read so far are counted.
}

void writePreflightTotals(std::FILE* out, const PreflightTotals& totals) {
    if (totals.hosts == 0)
        return;
    std::string text = "\nPreflight (relocator-check) of " + std::to_string(totals.hosts) +
                       " hosts\n  would migrate                     " +
                       std::to_string(totals.migration) + "\n  would restart                     " +
                       std::to_string(totals.restart) + "\n  would fall back                   " +
                       std::to_string(totals.fallback) + "\n  ready, no problem seen            " +
                       std::to_string(totals.clean) + "\n";
    if (totals.unreadable > 0) {
        text += "  not a preflight output            " + std::to_string(totals.unreadable) + "\n";
    }
    std::vector<std::pair<std::string, size_t>> problems(totals.problems.begin(),
                                                         totals.problems.end());
    std::stable_sort(problems.begin(), problems.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    if (!problems.empty())
        text += "  problems seen ahead (hosts):\n";
    for (const auto& [id, hosts] : problems) {
        std::string name = terminalText(id);
        name.resize(std::max<size_t>(name.size(), 32), ' ');
        text += "    " + name + std::to_string(hosts) + "\n";
    }
    std::fputs(text.c_str(), out);
}

}  // namespace report
