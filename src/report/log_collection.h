// Finds the logs of a collection: the files named on the command line, and in the folders named
// there every file called Relocator.log, N_Relocator.log (the rotated copies, N from 1 to 5) or
// HOST_Relocator.log (logs collected flat into one folder), however deep. Each log is handed on
// as it is found, with the host it belongs to, so that nothing of a large tree is held.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace report {

// Where a host's name comes from. Auto: the folder's name for Relocator.log and its rotated
// copies, the file name's part before "_Relocator.log" or ".log" for any other name.
enum class HostNaming { Auto, Folder, File };

struct LogFile {
    std::filesystem::path path;
    std::string host;  // UTF-8
    int run = 0;       // 0: the current log; N for N_Relocator.log
    // Set when the path could not be looked at (a folder that cannot be listed, a missing
    // path): the reason, and nothing is to be read.
    std::string problem;
};

// The host and run a log's path stands for under a naming rule.
LogFile logFileFor(const std::filesystem::path& path, HostNaming naming);

// True for the file names a folder search takes (see above), ignoring case.
bool isLogName(const std::string& fileName);

using LogVisitor = std::function<void(const LogFile&)>;
using PathVisitor = std::function<void(const std::filesystem::path&)>;

// Visits every log of the inputs: files as named, folders searched; rotated copies only when
// allRuns is set. Folders reached through links are not followed. When `preflight` is given,
// the same walk hands it the preflight outputs (isPreflightName), found or named, instead of
// reading them as logs: a collection is listed once. Never throws.
void forEachLog(const std::vector<std::filesystem::path>& inputs,
                HostNaming naming,
                bool allRuns,
                const LogVisitor& visit,
                const PathVisitor& preflight = nullptr);

// The inputs themselves: visits the files named (a log whatever its name, or a preflight
// output when `preflight` is given and the name is one), and each input that cannot be looked
// at as a log with a problem; adds the folders named to `folders`, to be searched.
void visitInputs(const std::vector<std::filesystem::path>& inputs,
                 HostNaming naming,
                 const LogVisitor& visit,
                 const PathVisitor& preflight,
                 std::vector<std::filesystem::path>& folders);

// One folder of a search: visits its logs (and, when `preflight` is given, its preflight
// outputs) and adds its subfolders to `subfolders`, for a walk that shares the folders among
// several threads. A folder that cannot be listed is visited as a log with a problem.
void searchOneFolder(const std::filesystem::path& folder,
                     HostNaming naming,
                     bool allRuns,
                     const LogVisitor& visit,
                     const PathVisitor& preflight,
                     std::vector<std::filesystem::path>& subfolders);

}  // namespace report
