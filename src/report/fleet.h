// The fleet: one small report per log read (and per host known by its preflight output alone),
// the totals per outcome and per protecting agent, and the report's own exit code. Rotated
// copies (earlier runs) are listed but never counted: a host is judged by its current log. The
// causes are grouped and ranked in cause_groups.h.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "report/cause_groups.h"
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
    // Hosts by the agent that protects them (protectionOf); they add up to `hosts`. Of them,
    // those in the inventory: with one given, these add up to `inventory`.
    size_t protection[kProtectionCount] = {};
    size_t protectionListed[kProtectionCount] = {};
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
    // Adds the preflight outputs: each to the current log of its host (names compared without
    // case and domain), or as a host of its own (NotRun) where there is no log. Call after every
    // log was added and before addInventory.
    void addPreflights(std::vector<Preflight> preflights);
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
    // Groups the hosts by cause, each host under every cause it has, and ranks the causes by
    // harm, then by hosts (the most first); then orders the hosts: those needing attention by
    // their outcome's cause's rank, the worst outcome first, then by host name and run; hosts
    // running the new agent after them, earlier runs last.
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
    std::vector<std::unique_ptr<Preflight>> preflights_;
    std::vector<CauseGroup> causes_;
    Source source_;
    size_t files_ = 0;
    size_t inventory_ = 0;
    size_t reported_ = 0;
    size_t unlisted_ = 0;
};

}  // namespace report
