// The fleet: one small report per log read, the totals per outcome and the report's own exit
// code. Rotated copies (earlier runs) are listed but never counted: a host is judged by its
// current log.
#pragma once

#include <cstddef>
#include <vector>

#include "report/host_report.h"
#include "report/log_collection.h"

namespace report {

// Reads one log of the collection into its host's report; a log that cannot be opened gets the
// outcome Unreadable.
HostReport reportFor(const LogFile& log);

struct Totals {
    size_t perOutcome[kOutcomeCount] = {};
    size_t hosts = 0;        // current logs
    size_t attention = 0;    // of them, needing attention
    size_t earlierRuns = 0;  // rotated copies listed besides
};

class Fleet {
  public:
    void add(HostReport host);
    // Hosts needing attention first, the worst outcome first; then by host name and run.
    void order();
    const std::vector<HostReport>& hosts() const { return hosts_; }
    Totals totals() const;
    // 0 when there are hosts and every one runs the new agent, 1 otherwise.
    int exitCode() const;

  private:
    std::vector<HostReport> hosts_;
};

}  // namespace report
