#include "report/fleet.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "report/file_source.h"
#include "report/file_system.h"
#include "report/host_protection.h"
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
    namespace fs = std::filesystem;
    // Every reader lists folders as well as reading logs: a collection of a million hosts is a
    // million folders, and listing them on one thread leaves the others waiting. The folders
    // still to list are shared; a reader reads the logs of the folders it lists, and hands a
    // flat folder's logs to the others in batches, big enough that a hand-off costs little
    // beside reading them.
    constexpr size_t kBatch = 256;
    const unsigned cores = std::thread::hardware_concurrency();
    const unsigned readers = std::max(1u, std::min(kMaxReaders, cores));
    std::mutex lock;
    std::condition_variable ready;
    std::vector<fs::path> folders;
    std::vector<std::vector<LogFile>> batches;
    unsigned busy = 0;  // readers listing a folder or reading a batch: they may add work
    std::exception_ptr failure;
    std::mutex calls;  // tick and preflight are the caller's: one call at a time
    const PathVisitor shared = preflight ? PathVisitor([&](const fs::path& path) {
        const std::lock_guard<std::mutex> guard(calls);
        preflight(path);
    })
                                         : PathVisitor();
    // In chunks of a fixed size, so that no reader's list is copied as it grows and each chunk
    // is freed as the fleet takes it over: a million reports are held once, not twice.
    constexpr size_t kChunk = 4096;
    std::vector<std::vector<std::vector<HostReport>>> read(readers);
    const auto keep = [&](unsigned index, HostReport report) {
        std::vector<std::vector<HostReport>>& chunks = read[index];
        if (chunks.empty() || chunks.back().size() == kChunk) {
            chunks.emplace_back();
            chunks.back().reserve(kChunk);
        }
        chunks.back().push_back(std::move(report));
    };
    const auto reader = [&](unsigned index) {
        const auto readLog = [&](const LogFile& log) {
            keep(index, reportFor(log));
            const std::lock_guard<std::mutex> guard(calls);
            tick();
        };
        std::vector<LogFile> batch;
        std::vector<fs::path> found;
        const auto handOver = [&] {
            {
                const std::lock_guard<std::mutex> guard(lock);
                batches.push_back(std::move(batch));
            }
            batch = std::vector<LogFile>();
            ready.notify_one();
        };
        try {
            for (;;) {
                fs::path folder;
                std::vector<LogFile> taken;
                {
                    std::unique_lock<std::mutex> guard(lock);
                    ready.wait(guard, [&] {
                        return failure || !batches.empty() || !folders.empty() || busy == 0;
                    });
                    if (failure || (batches.empty() && folders.empty()))
                        return;  // nothing left, and no reader can add any
                    if (!batches.empty()) {
                        taken = std::move(batches.back());
                        batches.pop_back();
                    } else {
                        folder = std::move(folders.back());
                        folders.pop_back();
                    }
                    ++busy;
                }
                for (const LogFile& log : taken)
                    readLog(log);
                if (!folder.empty()) {
                    searchOneFolder(
                        folder, naming, allRuns,
                        [&](const LogFile& log) {
                            batch.push_back(log);
                            if (batch.size() == kBatch)
                                handOver();
                        },
                        shared, found);
                    // A folder's last few logs are read here: for a folder per host, its log.
                    for (const LogFile& log : batch)
                        readLog(log);
                    batch.clear();
                }
                bool done = false;
                {
                    const std::lock_guard<std::mutex> guard(lock);
                    for (fs::path& path : found)
                        folders.push_back(std::move(path));
                    --busy;
                    done = busy == 0 && folders.empty() && batches.empty();
                }
                if (!found.empty() || done)
                    ready.notify_all();
                found.clear();
            }
        } catch (...) {
            // Out of memory: the report ends with it, after the other readers.
            {
                const std::lock_guard<std::mutex> guard(lock);
                failure = std::current_exception();
            }
            ready.notify_all();
        }
    };
    {
        // The inputs named: their logs read here, their folders the readers' first work.
        std::vector<fs::path> named;
        visitInputs(
            inputs, naming,
            [&](const LogFile& log) {
                keep(0, reportFor(log));
                tick();
            },
            preflight, named);
        for (auto it = named.rbegin(); it != named.rend(); ++it)
            folders.push_back(*it);
    }
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < readers; ++i)
        threads.emplace_back(reader, i);
    for (std::thread& thread : threads)
        thread.join();
    if (failure)
        std::rethrow_exception(failure);
    size_t total = 0;
    for (const auto& chunks : read) {
        for (const std::vector<HostReport>& chunk : chunks)
            total += chunk.size();
    }
    fleet.reserve(total);
    for (auto& chunks : read) {
        for (std::vector<HostReport>& chunk : chunks) {
            for (HostReport& host : chunk)
                fleet.add(std::move(host));
            chunk = std::vector<HostReport>();
        }
    }
}

void Fleet::add(HostReport host) {
    ++files_;
    hosts_.push_back(std::move(host));
}

void Fleet::addInventory(const std::vector<std::string>& hosts) {
    std::unordered_set<std::string> listed;
    listed.reserve(hosts.size());
    for (const std::string& name : hosts)
        listed.insert(hostKey(name));
    std::unordered_set<std::string> logged;
    for (HostReport& host : hosts_) {
        const std::string key = hostKey(host.host);
        host.unlisted = listed.count(key) == 0;
        if (host.run == 0) {
            logged.insert(key);
            unlisted_ += host.unlisted ? 1 : 0;
        }
    }
    inventory_ = listed.size();
    std::unordered_set<std::string> missing;
    for (const std::string& name : hosts) {
        const std::string key = hostKey(name);
        if (logged.count(key) != 0) {
            continue;
        }
        if (!missing.insert(key).second)
            continue;  // listed twice: one host
        HostReport host;
        host.host = name;
        host.outcome = Outcome::NoLog;
        host.reason = "in the inventory, but no log of it was found";
        defaultCause(host);
        hosts_.push_back(std::move(host));
    }
    reported_ = inventory_ - missing.size();
}

void Fleet::addPreflights(std::vector<Preflight> preflights) {
    std::unordered_map<std::string, size_t> current;
    for (size_t i = 0; i < hosts_.size(); ++i) {
        if (hosts_[i].run == 0)
            current.emplace(hostKey(hosts_[i].host), i);
    }
    for (Preflight& preflight : preflights) {
        ++files_;
        preflights_.push_back(std::make_unique<Preflight>(std::move(preflight)));
        const Preflight* held = preflights_.back().get();
        const auto [at, added] = current.emplace(hostKey(held->host), hosts_.size());
        if (!added) {
            // A second output for one host: the first found stays.
            if (hosts_[at->second].preflight == nullptr)
                hosts_[at->second].preflight = held;
            continue;
        }
        HostReport host;
        host.host = held->host;
        host.file = held->file;
        host.outcome = Outcome::NotRun;
        host.preflight = held;
        host.reason = held->reason;
        std::string ids;
        for (const std::string& id : held->problems)
            ids += (ids.empty() ? "" : ", ") + id;
        host.cause.record = held->readable()
                                ? "relocator-check: " + (ids.empty() ? held->path : ids)
                                : held->reason;
        defaultCause(host);
        if (host.cause.id == CauseId::None)
            host.cause.record = SharedText();
        hosts_.push_back(std::move(host));
    }
}

void Fleet::order() {
    orderByCause(hosts_, causes_);
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
        const int protection = static_cast<int>(protectionOf(host));
        ++t.protection[protection];
        t.protectionListed[protection] += inventory_ > 0 && !host.unlisted ? 1 : 0;
        t.attention += needsAttention(host) ? 1 : 0;
    }
    t.inventory = inventory_;
    t.reported = reported_;
    t.unlisted = unlisted_;
    return t;
}

int Fleet::exitCode() const {
    const Totals t = totals();
    return t.hosts > 0 && t.attention == 0 ? 0 : 1;
}

}  // namespace report
