// The fleet: one small report per log read, the totals per outcome and the report's own exit
// code. Rotated copies (earlier runs) are listed but never counted: a host is judged by its
// current log.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <vector>

#include "report/host_report.h"
#include "report/log_collection.h"

namespace report {

// Reads one log of the collection into its host's report; a log that cannot be opened gets the
// outcome Unreadable.
HostReport reportFor(const LogFile& log);

class Fleet;

// Reads every log of the inputs (see forEachLog) into the fleet, on one reader per processor
// (at most kMaxReaders) that both lists folders and reads logs, so that a large collection is
// read on every core. `tick` is called once per log read, and `preflight`, when given, with
// each preflight output the walk finds: from any reader, but one call at a time.
constexpr unsigned kMaxReaders = 8;
void readLogs(const std::vector<std::filesystem::path>& inputs,
              HostNaming naming,
              bool allRuns,
              Fleet& fleet,
              const std::function<void()>& tick,
              const PathVisitor& preflight = nullptr);

struct Totals {
    size_t perOutcome[kOutcomeCount] = {};
    size_t inventory = 0;    // hosts of the inventory (0: none given)
    size_t reported = 0;     // of them, hosts with a log
    size_t unlisted = 0;     // hosts with a log that the inventory lacks
    size_t hosts = 0;        // current logs
    size_t attention = 0;    // of them, needing attention
    size_t earlierRuns = 0;  // rotated copies listed besides
};

// The hosts of one cause: the cause (its id and code), how many current logs have it, and the
// worst outcome among them.
struct CauseGroup {
    Cause cause;  // without its record
    size_t hosts = 0;
    Outcome worst = Outcome::Started;
};

class Fleet {
  public:
    void add(HostReport host);
    void reserve(size_t hosts) { hosts_.reserve(hosts_.size() + hosts); }
    // Adds a "no log collected" host for each host of the inventory that has no current log
    // (matched by hostKey), and counts the share of the inventory that reported and the hosts
    // with a log that it lacks (marked `unlisted`: a misnamed folder, or an inventory out of
    // date). Call once, after every log was added.
    void addInventory(const std::vector<std::string>& hosts);
    // What the report was made from, for its outputs' heading.
    struct Source {
        std::string made;                 // "YYYY-MM-DD hh:mm:ss UTC"
        std::vector<std::string> inputs;  // the paths named, UTF-8
        std::string inventory;            // the --hosts file; empty when none
    };
    void describe(Source source) { source_ = std::move(source); }
    const Source& source() const { return source_; }
    // Files (and unreadable items) read; hosts of the inventory without a log not counted.
    size_t files() const { return files_; }
    // Groups the hosts needing attention by cause (the most hosts first), then orders the hosts:
    // by their cause's rank, the worst outcome first, then by host name and run; hosts running
    // the new agent after them, earlier runs last.
    void order();
    const std::vector<HostReport>& hosts() const { return hosts_; }
    // The causes of the hosts needing attention, as order() ranked them; a host's `group` is
    // its cause's index here plus one (0: no cause).
    const std::vector<CauseGroup>& causes() const { return causes_; }
    Totals totals() const;
    // 0 when there are hosts and every one runs the new agent, 1 otherwise.
    int exitCode() const;

  private:
    std::vector<HostReport> hosts_;
    std::vector<CauseGroup> causes_;
    Source source_;
    size_t files_ = 0;
    size_t inventory_ = 0;
    size_t reported_ = 0;
    size_t unlisted_ = 0;
};

}  // namespace report
