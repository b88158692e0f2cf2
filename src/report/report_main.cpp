// relocator-report: reads the Relocator.log files collected from a fleet and reports, host by
// host, the path the tool took, the outcome, the exit code and the failure lines.
#include <atomic>
#include <cstdio>
#include <ctime>
#include <exception>
#include <string>
#include <thread>
#include <vector>

#include "report/command_line.h"
#include "report/file_outputs.h"
#include "report/file_system.h"
#include "report/fleet.h"
#include "report/html_output.h"
#include "report/inventory.h"
#include "report/preflight_totals.h"
#include "report/progress_line.h"
#include "report/table_output.h"

namespace {

constexpr int kUsageError = 2;

// Writes one requested output file; false (after saying so) when it cannot be written.
template <typename Writer>
bool writeOutput(const std::filesystem::path& path, const report::Fleet& fleet, Writer writer) {
    if (path.empty() || writer(path, fleet))
        return true;
    std::fprintf(stderr, "relocator-report: cannot write %s\n", report::pathText(path).c_str());
    return false;
}

// When the report is made, in UTC, for its heading.
std::string madeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc = {};
#ifdef _WIN32
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
    return text;
}

int run(const std::vector<std::string>& args) {
    report::Options options;
    std::string error;
    if (!report::parseCommandLine(args, options, error)) {
        std::fprintf(stderr, "relocator-report: %s\n\n%s", error.c_str(), report::usageText());
        return kUsageError;
    }
    if (options.help) {
        std::fputs(report::usageText(), stdout);
        return 0;
    }
    std::vector<std::string> inventory;
    if (!options.hosts.empty() && !report::readInventory(options.hosts, inventory, error)) {
        std::fprintf(stderr, "relocator-report: --hosts: %s\n", error.c_str());
        return kUsageError;
    }
    report::Fleet fleet;
    report::Fleet::Source source;
    source.made = madeNow();
    for (const std::filesystem::path& input : options.inputs)
        source.inputs.push_back(report::pathText(input));
    if (!options.hosts.empty())
        source.inventory = report::pathText(options.hosts);
    fleet.describe(std::move(source));
    report::PreflightTotals preflights;
    std::vector<report::Preflight> outputs;
    {
        report::ProgressLine progress;
        report::readLogs(
            options.inputs, options.naming, options.allRuns, fleet, [&] { progress.tick(); },
            [&](const std::filesystem::path& path) {
                outputs.push_back(report::readPreflightFile(path));
            });
    }
    fleet.addPreflights(std::move(outputs));
    // Totalled per host: a second output of one host is not counted again.
    for (const report::HostReport& host : fleet.hosts()) {
        if (host.run == 0 && host.preflight != nullptr)
            report::addPreflight(*host.preflight, preflights);
    }
    if (!options.hosts.empty())
        fleet.addInventory(inventory);
    fleet.order();
    if (fleet.hosts().empty())
        std::fputs("relocator-report: no log found\n", stderr);
    // The files are written beside the table, each on its own thread (they only read the
    // fleet); each is tried even when another one failed.
    std::atomic<bool> written{true};
    const auto inBackground = [&](const std::filesystem::path& path, auto writer) {
        return std::thread([&fleet, &written, path, writer] {
            bool ok = false;
            try {
                ok = writeOutput(path, fleet, writer);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "relocator-report: %s\n", e.what());
            }
            if (!ok)
                written = false;
        });
    };
    std::thread csv = inBackground(options.csv, report::writeCsv);
    std::thread json = inBackground(options.json, report::writeJson);
    std::thread html = inBackground(options.html, report::writeHtml);
    report::writeTable(stdout, fleet, options.totalsOnly, options.failures);
    report::writePreflightTotals(stdout, preflights);
    std::fflush(stdout);
    for (std::thread* thread : {&csv, &json, &html})
        thread->join();
    if (!written)
        return kUsageError;
    // A host known by its preflight output alone needs attention when a problem lies ahead.
    return fleet.exitCode();
}

int guarded(const std::vector<std::string>& args) {
    try {
        return run(args);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "relocator-report: %s\n", e.what());
    } catch (...) {
        std::fputs("relocator-report: unexpected failure\n", stderr);
    }
    return kUsageError;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    try {
        for (int i = 1; i < argc; ++i) {
            const auto utf8 = std::filesystem::path(argv[i]).u8string();
            args.emplace_back(utf8.begin(), utf8.end());
        }
    } catch (...) {
        return kUsageError;
    }
    return guarded(args);
}
#else
int main(int argc, char** argv) {
    std::vector<std::string> args;
    try {
        args.assign(argv + 1, argv + argc);
    } catch (...) {
        return kUsageError;
    }
    return guarded(args);
}
#endif
