#include "report/preflight_totals.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <system_error>

#include "report/file_system.h"
#include "report/log_collection.h"
#include "report/preflight_name.h"
#include "report/text_escape.h"

#include <nlohmann/json.hpp>

namespace report {

namespace {

// A preflight output is a few kilobytes; anything far larger is not one.
constexpr std::uintmax_t kMaxBytes = 1 << 20;
// Problem ids are short words; anything else is not counted under its own name.
constexpr size_t kMaxIdChars = 40;

bool plainId(const std::string& id) {
    return !id.empty() && id.size() <= kMaxIdChars && std::all_of(id.begin(), id.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
    });
}

std::string stringOf(const nlohmann::json& object, const char* key) {
    const auto at = object.find(key);
    return at != object.end() && at->is_string() ? at->get<std::string>() : std::string();
}

}  // namespace

Preflight readPreflight(const std::string& text, const std::string& file) {
    Preflight out;
    out.file = file;
    out.host = hostOfPreflightFile(std::filesystem::u8path(file));
    // Without exceptions: a damaged file is a verdict on that file, not an error of the report.
    const nlohmann::json doc = nlohmann::json::parse(text, nullptr, false);
    if (doc.is_discarded() || !doc.is_object() || stringOf(doc, "tool") != "relocator-check") {
        out.reason =
            "not a preflight output of relocator-check (damaged, cut, or another program's)";
        return out;
    }
    if (out.host.empty())
        out.host = stringOf(doc, "host");
    const std::string path = stringOf(doc, "path");
    if (path != "migration" && path != "restart" && path != "fallback") {
        out.reason = "a preflight output without a path the tool takes";
        return out;
    }
    out.path = path;
    const auto problems = doc.find("problems");
    if (problems == doc.end() || !problems->is_array())
        return out;
    for (const nlohmann::json& problem : *problems) {
        if (!problem.is_object())
            continue;
        std::string id = stringOf(problem, "id");
        if (!plainId(id))
            id = "(other)";
        // The check names a problem once per thing it concerns (two installers, two folders):
        // for the host it is one problem.
        if (std::find(out.problems.begin(), out.problems.end(), id) != out.problems.end())
            continue;
        out.problems.push_back(id);
        if (out.action.empty())
            out.action = stringOf(problem, "action");
    }
    return out;
}

Preflight readPreflightFile(const std::filesystem::path& path) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(systemPath(path), error);
    std::ifstream in(systemPath(path), std::ios::binary);
    if (error || size > kMaxBytes || !in) {
        Preflight out = readPreflight(std::string(), pathText(path));
        out.reason = error || !in ? "cannot be read" : "too large for a preflight output";
        return out;
    }
    return readPreflight(
        std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
        pathText(path));
}

void addPreflight(const Preflight& preflight, PreflightTotals& totals) {
    ++totals.hosts;
    if (!preflight.readable()) {
        ++totals.unreadable;
        return;
    }
    if (preflight.path == "migration")
        ++totals.migration;
    else if (preflight.path == "restart")
        ++totals.restart;
    else
        ++totals.fallback;
    for (const std::string& id : preflight.problems)
        ++totals.problems[id];
    if (!preflight.needsAttention())
        ++totals.clean;
}

void addPreflightFile(const std::filesystem::path& path, PreflightTotals& totals) {
    addPreflight(readPreflightFile(path), totals);
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
