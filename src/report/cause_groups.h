// The causes of a fleet's hosts: the hosts grouped by cause and the causes ranked by the harm
// they do, so that the report leads with what leaves hosts unprotected.
#pragma once

#include <cstddef>
#include <vector>

#include "report/host_report.h"

namespace report {

// The hosts of one cause: the cause (its id and code), how many current hosts have it (as their
// outcome's cause or besides it), the worst outcome and the unprotected hosts among those whose
// outcome it explains, and so the harm it does.
struct CauseGroup {
    Cause cause;  // without its record
    size_t hosts = 0;
    Outcome worst = Outcome::Started;
    size_t unprotected = 0;
    Harm harm = Harm::Retry;
};

// Unprotected when any host it explains runs no agent; otherwise by the kind of cause.
Harm causeHarm(const CauseGroup& group);

// Fleet::order's work (its contract is in fleet.h): groups `hosts` by cause into `causes`,
// ranks the causes by harm, and orders the hosts by their cause's rank.
void orderByCause(std::vector<HostReport>& hosts, std::vector<CauseGroup>& causes);

}  // namespace report
