#include "report/fleet.h"

#include <algorithm>
#include <tuple>

#include "report/file_source.h"
#include "report/file_system.h"
#include "report/run_reader.h"

namespace report {

namespace {

std::string utf8(const std::filesystem::path& path) {
    return pathText(path);
}

}  // namespace

HostReport reportFor(const LogFile& log) {
    HostReport host;
    host.host = log.host;
    host.file = utf8(log.path);
    host.run = log.run;
    if (!log.problem.empty()) {
        host.outcome = Outcome::Unreadable;
        host.reason = log.problem;
        return host;
    }
    FileSource source(log.path);
    if (!source.ok()) {
        host.outcome = Outcome::Unreadable;
        host.reason = "cannot be opened: " + source.error();
        return host;
    }
    readRun(source, host);
    return host;
}

void Fleet::add(HostReport host) {
    hosts_.push_back(std::move(host));
}

void Fleet::order() {
    std::sort(hosts_.begin(), hosts_.end(), [](const HostReport& a, const HostReport& b) {
        return std::forward_as_tuple(a.run != 0, a.outcome, a.host, a.run, a.file) <
               std::forward_as_tuple(b.run != 0, b.outcome, b.host, b.run, b.file);
    });
}

Totals Fleet::totals() const {
    Totals t;
    for (const HostReport& host : hosts_) {
        if (host.run != 0) {
            ++t.earlierRuns;
            continue;
        }
        ++t.perOutcome[static_cast<int>(host.outcome)];
        ++t.hosts;
        t.attention += needsAttention(host) ? 1 : 0;
    }
    return t;
}

int Fleet::exitCode() const {
    const Totals t = totals();
    return t.hosts > 0 && t.attention == 0 ? 0 : 1;
}

}  // namespace report
