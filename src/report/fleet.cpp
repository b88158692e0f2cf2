#include "report/fleet.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

#include "report/file_source.h"
#include "report/file_system.h"
#include "report/inventory.h"
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
        defaultCause(host);
        return host;
    }
    FileSource source(log.path);
    if (!source.ok()) {
        host.outcome = Outcome::Unreadable;
        host.reason = "cannot be opened: " + source.error();
        defaultCause(host);
        return host;
    }
    readRun(source, host);
    defaultCause(host);
    return host;
}

void readLogs(const std::vector<std::filesystem::path>& inputs,
              HostNaming naming,
              bool allRuns,
              Fleet& fleet,
              const std::function<void()>& tick,
              const PathVisitor& preflight) {
    // Logs are handed to the readers in batches: one hand-off per log costs more than reading
    // a small log. Enough batches queued to keep the readers busy, few enough to hold no large
    // part of a tree.
    constexpr size_t kBatch = 256;
    constexpr size_t kQueued = 8;
    const unsigned cores = std::thread::hardware_concurrency();
    const unsigned readers = std::max(1u, std::min(kMaxReaders, cores));
    std::mutex lock;
    std::condition_variable ready;
    std::condition_variable room;
    std::deque<std::vector<LogFile>> queue;
    bool walked = false;
    std::exception_ptr failure;
    std::vector<std::vector<HostReport>> read(readers);
    const auto reader = [&](unsigned index) {
        try {
            for (;;) {
                std::vector<LogFile> batch;
                {
                    std::unique_lock<std::mutex> guard(lock);
                    ready.wait(guard, [&] { return walked || !queue.empty(); });
                    if (queue.empty())
                        return;
                    batch = std::move(queue.front());
                    queue.pop_front();
                }
                room.notify_one();
                for (const LogFile& log : batch)
                    read[index].push_back(reportFor(log));
            }
        } catch (...) {
            // Out of memory: the report ends with it, after the walk and the other readers.
            const std::lock_guard<std::mutex> guard(lock);
            failure = std::current_exception();
            queue.clear();
            room.notify_all();
        }
    };
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < readers; ++i)
        threads.emplace_back(reader, i);
    std::vector<LogFile> batch;
    const auto handOver = [&] {
        {
            std::unique_lock<std::mutex> guard(lock);
            room.wait(guard, [&] { return queue.size() < kQueued || failure; });
            if (!failure)
                queue.push_back(std::move(batch));
        }
        batch = std::vector<LogFile>();
        ready.notify_one();
    };
    const auto finish = [&] {
        {
            const std::lock_guard<std::mutex> guard(lock);
            walked = true;
        }
        ready.notify_all();
        for (std::thread& thread : threads)
            thread.join();
    };
    try {
        forEachLog(
            inputs, naming, allRuns,
            [&](const LogFile& log) {
                batch.push_back(log);
                if (batch.size() == kBatch)
                    handOver();
                tick();
            },
            preflight);
        if (!batch.empty())
            handOver();
    } catch (...) {
        finish();
        throw;
    }
    finish();
    if (failure)
        std::rethrow_exception(failure);
    size_t total = 0;
    for (const std::vector<HostReport>& part : read)
        total += part.size();
    fleet.reserve(total);
    for (std::vector<HostReport>& part : read) {
        for (HostReport& host : part)
            fleet.add(std::move(host));
        part = std::vector<HostReport>();
    }
}

void Fleet::add(HostReport host) {
    ++files_;
    hosts_.push_back(std::move(host));
}

void Fleet::addInventory(const std::vector<std::string>& hosts) {
    std::unordered_set<std::string> logged;
    for (const HostReport& host : hosts_) {
        if (host.run == 0)
            logged.insert(hostKey(host.host));
    }
    std::unordered_set<std::string> listed;
    for (const std::string& name : hosts) {
        const std::string key = hostKey(name);
        if (!listed.insert(key).second)
            continue;  // listed twice: one host
        ++inventory_;
        if (logged.count(key) != 0) {
            ++reported_;
            continue;
        }
        HostReport missing;
        missing.host = name;
        missing.outcome = Outcome::NoLog;
        missing.reason = "in the inventory, but no log of it was found";
        defaultCause(missing);
        hosts_.push_back(std::move(missing));
    }
}

void Fleet::order() {
    causes_.clear();
    std::unordered_map<std::string, size_t> index;
    std::vector<size_t> groupOf(hosts_.size(), 0);
    for (size_t i = 0; i < hosts_.size(); ++i) {
        const HostReport& host = hosts_[i];
        if (host.run != 0 || !needsAttention(host))
            continue;
        const auto [at, added] = index.emplace(causeKey(host.cause), causes_.size());
        if (added) {
            causes_.emplace_back();
            causes_.back().cause.id = host.cause.id;
            causes_.back().cause.code = host.cause.code;
        }
        CauseGroup& group = causes_[at->second];
        ++group.hosts;
        group.worst = std::min(group.worst, host.outcome);
        groupOf[i] = at->second;
    }
    std::vector<size_t> rank(causes_.size());
    for (size_t i = 0; i < rank.size(); ++i)
        rank[i] = i;
    std::sort(rank.begin(), rank.end(), [&](size_t a, size_t b) {
        const CauseGroup& x = causes_[a];
        const CauseGroup& y = causes_[b];
        return std::make_tuple(y.hosts, x.worst, causeKey(x.cause)) <
               std::make_tuple(x.hosts, y.worst, causeKey(y.cause));
    });
    std::vector<uint32_t> rankOf(causes_.size());
    std::vector<CauseGroup> ranked;
    for (size_t r = 0; r < rank.size(); ++r) {
        rankOf[rank[r]] = static_cast<uint32_t>(r + 1);
        ranked.push_back(causes_[rank[r]]);
    }
    causes_ = std::move(ranked);
    const uint32_t healthy = static_cast<uint32_t>(causes_.size() + 1);
    for (size_t i = 0; i < hosts_.size(); ++i) {
        HostReport& host = hosts_[i];
        host.group = host.run == 0 && needsAttention(host) ? rankOf[groupOf[i]] : healthy;
    }
    std::sort(hosts_.begin(), hosts_.end(), [](const HostReport& a, const HostReport& b) {
        return std::forward_as_tuple(a.run != 0, a.group, a.outcome, a.host, a.run, a.file) <
               std::forward_as_tuple(b.run != 0, b.group, b.outcome, b.host, b.run, b.file);
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
    t.inventory = inventory_;
    t.reported = reported_;
    return t;
}

int Fleet::exitCode() const {
    const Totals t = totals();
    return t.hosts > 0 && t.attention == 0 ? 0 : 1;
}

}  // namespace report
