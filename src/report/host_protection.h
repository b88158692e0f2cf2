// Which agent a host's run left protecting it, read from the host's record. Apart from the
// Protection enum (protection.h), which the record itself holds: the enum needs no record.
#pragma once

#include "report/host_report.h"
#include "report/protection.h"

namespace report {

// The agent that protects the host as far as its record tells; Unknown without a usable log.
Protection protectionOf(const HostReport& host);

}  // namespace report
