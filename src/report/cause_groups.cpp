#include "report/cause_groups.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <tuple>
#include <unordered_map>

#include "report/host_protection.h"

namespace report {

Harm causeHarm(const CauseGroup& group) {
    const CauseId id = group.cause.id;
    if (group.unprotected > 0)
        return Harm::Unprotected;
    if (id >= CauseId::PolicyCopyLeft && id <= CauseId::PolicyNotRead)
        return Harm::FollowUp;
    if (id >= CauseId::PreflightFallback)
        return Harm::Ahead;
    return Harm::Retry;
}

void orderByCause(std::vector<HostReport>& hosts, std::vector<CauseGroup>& causes) {
    causes.clear();
    std::unordered_map<std::string, size_t> index;
    std::vector<size_t> groupOf(hosts.size(), 0);
    for (size_t i = 0; i < hosts.size(); ++i) {
        const HostReport& host = hosts[i];
        if (host.run != 0)
            continue;
        for (const Cause& cause : hostCauses(host)) {
            const auto [at, added] = index.emplace(causeKey(cause), causes.size());
            if (added) {
                causes.emplace_back();
                causes.back().cause.id = cause.id;
                causes.back().cause.code = cause.code;
            }
            CauseGroup& group = causes[at->second];
            ++group.hosts;
            if (cause.id != host.cause.id || !needsAttention(host))
                continue;  // a cause besides the outcome's: counted, the host listed elsewhere
            group.worst = std::min(group.worst, host.outcome);
            group.unprotected += protectionOf(host) == Protection::None ? 1 : 0;
            groupOf[i] = at->second;
        }
    }
    for (CauseGroup& group : causes)
        group.harm = causeHarm(group);
    std::vector<size_t> rank(causes.size());
    for (size_t i = 0; i < rank.size(); ++i)
        rank[i] = i;
    std::sort(rank.begin(), rank.end(), [&](size_t a, size_t b) {
        const CauseGroup& x = causes[a];
        const CauseGroup& y = causes[b];
        return std::make_tuple(x.harm, y.hosts, x.worst, x.cause.id, causeKey(x.cause)) <
               std::make_tuple(y.harm, x.hosts, y.worst, y.cause.id, causeKey(y.cause));
    });
    std::vector<uint32_t> rankOf(causes.size());
    std::vector<CauseGroup> ranked;
    for (size_t r = 0; r < rank.size(); ++r) {
        rankOf[rank[r]] = static_cast<uint32_t>(r + 1);
        ranked.push_back(causes[rank[r]]);
    }
    causes = std::move(ranked);
    const uint32_t healthy = static_cast<uint32_t>(causes.size() + 1);
    for (size_t i = 0; i < hosts.size(); ++i) {
        HostReport& host = hosts[i];
        const bool grouped =
            host.run == 0 && needsAttention(host) && host.cause.id != CauseId::None;
        host.group = grouped ? rankOf[groupOf[i]] : healthy;
    }
    std::sort(hosts.begin(), hosts.end(), [](const HostReport& a, const HostReport& b) {
        return std::forward_as_tuple(a.run != 0, a.group, a.outcome, a.host, a.run, a.file) <
               std::forward_as_tuple(b.run != 0, b.group, b.outcome, b.host, b.run, b.file);
    });
}

}  // namespace report
