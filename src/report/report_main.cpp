// relocator-report: reads the Relocator.log files collected from a fleet and reports, host by
// host, the path the tool took, the outcome, the exit code and the failure lines.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "report/command_line.h"
#include "report/file_outputs.h"
#include "report/file_system.h"
#include "report/fleet.h"
#include "report/html_output.h"
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
    report::Fleet fleet;
    {
        report::ProgressLine progress;
        report::forEachLog(options.inputs, options.naming, options.allRuns,
                           [&](const report::LogFile& log) {
                               fleet.add(report::reportFor(log));
                               progress.tick();
                           });
    }
    fleet.order();
    if (fleet.hosts().empty())
        std::fputs("relocator-report: no log found\n", stderr);
    report::writeTable(stdout, fleet, options.totalsOnly);
    std::fflush(stdout);
    // Each output is tried even when another one failed.
    bool written = writeOutput(options.csv, fleet, report::writeCsv);
    written = writeOutput(options.json, fleet, report::writeJson) && written;
    written = writeOutput(options.html, fleet, report::writeHtml) && written;
    return written ? fleet.exitCode() : kUsageError;
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
