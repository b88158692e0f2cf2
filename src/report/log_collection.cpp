#include "report/log_collection.h"

#include <algorithm>
#include <system_error>

#include "report/file_system.h"
#include "report/preflight_name.h"

namespace report {

namespace fs = std::filesystem;

namespace {

constexpr char kLogName[] = "relocator.log";
constexpr char kFlatSuffix[] = "_relocator.log";
constexpr char kLogSuffix[] = ".log";
constexpr int kRotatedCopies = 5;

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return text;
}

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// 1 to 5 for "N_Relocator.log", else 0.
int rotatedRun(const std::string& lowerName) {
    const bool rotated = lowerName.size() == 2 + sizeof(kLogName) - 1 && lowerName[1] == '_' &&
                         lowerName[0] >= '1' && lowerName[0] <= '0' + kRotatedCopies &&
                         lowerName.compare(2, std::string::npos, kLogName) == 0;
    return rotated ? lowerName[0] - '0' : 0;
}

std::string utf8(const fs::path& path) {
    return pathText(path);
}

std::string folderName(const fs::path& file) {
    std::error_code ec;
    fs::path folder = file.parent_path();
    if (folder.empty() || folder.filename().empty() || folder.filename() == "." ||
        folder.filename() == "..") {
        folder = fs::absolute(file, ec).lexically_normal().parent_path();
    }
    return utf8(folder.filename());
}

// The name without "_Relocator.log" or, failing that, without ".log".
std::string namePart(const std::string& name) {
    const std::string low = lower(name);
    for (const std::string suffix : {kFlatSuffix, kLogSuffix}) {
        if (endsWith(low, suffix) && low.size() > suffix.size())
            return name.substr(0, name.size() - suffix.size());
    }
    return name;
}

void visitFile(const fs::path& path, HostNaming naming, bool allRuns, const LogVisitor& visit) {
    LogFile log = logFileFor(path, naming);
    if (log.run == 0 || allRuns)
        visit(log);
}

void problem(const fs::path& path, const std::string& reason, const LogVisitor& visit) {
    LogFile log;
    log.path = path;
    log.host = utf8(path.filename().empty() ? path.parent_path().filename() : path.filename());
    log.problem = reason;
    visit(log);
}

// A device, FIFO or socket under a log's or a preflight output's name is listed with what it
// is and never read. A log keeps its host and run; a preflight output is listed under its own
// name, as no host sent it as a log.
void special(const fs::path& path,
             const std::string& what,
             HostNaming naming,
             bool allRuns,
             const LogVisitor& visit,
             const PathVisitor& preflight) {
    const std::string name = utf8(path.filename());
    if (isLogName(name) || !preflight || !isPreflightName(name)) {
        LogFile log = logFileFor(path, naming);
        log.problem = what + " (not read)";
        if (log.run == 0 || allRuns)
            visit(log);
    } else {
        problem(path, what + " (not read as a preflight output)", visit);
    }
}

// Searches one folder tree without recursion, so that no depth can exhaust the stack.
void searchFolder(const fs::path& root,
                  HostNaming naming,
                  bool allRuns,
                  const LogVisitor& visit,
                  const PathVisitor& preflight) {
    std::vector<fs::path> folders{root};
    while (!folders.empty()) {
        const fs::path folder = std::move(folders.back());
        folders.pop_back();
        searchOneFolder(folder, naming, allRuns, visit, preflight, folders);
    }
}

}  // namespace

// Links to folders (junctions, symbolic links) are never followed: a link back to a parent
// would count its hosts again, or never end. Whatever cannot be looked at is listed as such,
// never dropped.
void searchOneFolder(const fs::path& folder,
                     HostNaming naming,
                     bool allRuns,
                     const LogVisitor& visit,
                     const PathVisitor& preflight,
                     std::vector<fs::path>& subfolders) {
    bool any = false;
    const std::string error = listFolder(folder, [&](const FolderEntry& entry) {
        any = true;
        switch (entry.kind) {
            case EntryKind::Folder:
                subfolders.push_back(entry.path);
                break;
            case EntryKind::File:
            case EntryKind::Link: {
                // A link named like a log is read as one: a file cannot loop.
                const std::string name = utf8(entry.path.filename());
                if (isLogName(name))
                    visitFile(entry.path, naming, allRuns, visit);
                else if (preflight && entry.kind == EntryKind::File && isPreflightName(name))
                    preflight(entry.path);
                break;
            }
            case EntryKind::Special: {
                const std::string name = utf8(entry.path.filename());
                if (isLogName(name) || (preflight && isPreflightName(name)))
                    special(entry.path, entry.error, naming, allRuns, visit, preflight);
                break;
            }
            case EntryKind::Unknown:
                problem(entry.path, "cannot tell whether it is a folder: " + entry.error, visit);
                break;
        }
    });
    if (!error.empty()) {
        problem(
            folder,
            (any ? "folder cannot be listed to its end: " : "folder cannot be listed: ") + error,
            visit);
    }
}

bool isLogName(const std::string& fileName) {
    const std::string low = lower(fileName);
    return low == kLogName || endsWith(low, kFlatSuffix);
}

LogFile logFileFor(const fs::path& path, HostNaming naming) {
    LogFile log;
    log.path = path;
    const std::string name = utf8(path.filename());
    const std::string low = lower(name);
    log.run = rotatedRun(low);
    const bool folderNamed = low == kLogName || log.run != 0;
    const bool byFolder =
        naming == HostNaming::Folder || (naming == HostNaming::Auto && folderNamed);
    log.host = byFolder ? folderName(path) : namePart(name);
    return log;
}

void visitInputs(const std::vector<fs::path>& inputs,
                 HostNaming naming,
                 const LogVisitor& visit,
                 const PathVisitor& preflight,
                 std::vector<fs::path>& folders) {
    for (const fs::path& input : inputs) {
        std::string error;
        const EntryKind kind = kindOf(input, error);
        if (kind == EntryKind::Unknown) {
            problem(input, "cannot be opened: " + error, visit);
        } else if (kind == EntryKind::Folder) {
            folders.push_back(input);
        } else if (kind == EntryKind::Special) {
            special(input, error, naming, true, visit, preflight);
        } else if (preflight && isPreflightName(utf8(input.filename()))) {
            preflight(input);
        } else {
            // Named on the command line: taken whatever its name, a rotated copy as one.
            visitFile(input, naming, true, visit);
        }
    }
}

void forEachLog(const std::vector<fs::path>& inputs,
                HostNaming naming,
                bool allRuns,
                const LogVisitor& visit,
                const PathVisitor& preflight) {
    std::vector<fs::path> folders;
    visitInputs(inputs, naming, visit, preflight, folders);
    for (const fs::path& folder : folders)
        searchFolder(folder, naming, allRuns, visit, preflight);
}

}  // namespace report
