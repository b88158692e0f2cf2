#include "report/command_line.h"

namespace report {

namespace {

std::filesystem::path pathOf(const std::string& utf8) {
    return std::filesystem::u8path(utf8);
}

bool naming(const std::string& value, HostNaming& out) {
    if (value == "auto")
        out = HostNaming::Auto;
    else if (value == "folder")
        out = HostNaming::Folder;
    else if (value == "file")
        out = HostNaming::File;
    else
        return false;
    return true;
}

}  // namespace

const char* usageText() {
    return "usage: relocator-report [options] PATH...\n"
           "Reads the Relocator.log files collected from a fleet and tells, host by host, what\n"
           "the migration tool did and what to do next. PATH: log files, or folders searched\n"
           "for Relocator.log, N_Relocator.log and HOST_Relocator.log.\n"
           "\n"
           "  --csv FILE          also write the report as CSV\n"
           "  --json FILE         also write it as JSON (one object per host)\n"
           "  --html FILE         also write it as one self-contained web page\n"
           "  --host-name RULE    auto (default): the log's folder for Relocator.log, the file\n"
           "                      name before _Relocator.log or .log otherwise;\n"
           "                      folder: always the folder; file: always the file name\n"
           "  --hosts FILE        the fleet's inventory: one host name a line, or a CSV with a\n"
           "                      column named like host; hosts without a log are reported as\n"
           "                      \"no log collected\"\n"
           "  --all-runs          list the rotated copies 1_ to 5_Relocator.log (earlier runs)\n"
           "  --totals            show only the causes and the totals on the terminal\n"
           "  --failures          list every failure line of each host on the terminal\n"
           "  -h, --help          this text\n"
           "\n"
           "Exit code: 0 every host runs the new agent; 1 a host needs attention (or no log was\n"
           "found); 2 usage error, or an output file cannot be written.\n";
}

bool parseCommandLine(const std::vector<std::string>& args, Options& options, std::string& error) {
    options = Options();
    bool onlyPaths = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (onlyPaths || arg.empty() || arg[0] != '-' || arg == "-") {
            options.inputs.push_back(pathOf(arg));
            continue;
        }
        const bool takesValue = arg == "--csv" || arg == "--json" || arg == "--html" ||
                                arg == "--host-name" || arg == "--hosts";
        if (takesValue && i + 1 >= args.size()) {
            error = arg + " needs a value";
            return false;
        }
        if (arg == "--") {
            onlyPaths = true;
        } else if (arg == "--csv") {
            options.csv = pathOf(args[++i]);
        } else if (arg == "--json") {
            options.json = pathOf(args[++i]);
        } else if (arg == "--html") {
            options.html = pathOf(args[++i]);
        } else if (arg == "--hosts") {
            options.hosts = pathOf(args[++i]);
        } else if (arg == "--host-name") {
            if (!naming(args[++i], options.naming)) {
                error = "--host-name takes auto, folder or file, not " + args[i];
                return false;
            }
        } else if (arg == "--all-runs") {
            options.allRuns = true;
        } else if (arg == "--totals") {
            options.totalsOnly = true;
        } else if (arg == "--failures") {
            options.failures = true;
        } else if (arg == "-h" || arg == "--help") {
            options.help = true;
        } else {
            error = "unknown option " + arg;
            return false;
        }
    }
    if (options.inputs.empty() && !options.help) {
        error = "no log file or folder given";
        return false;
    }
    return true;
}

}  // namespace report
