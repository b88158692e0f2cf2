// The protection a host is left with: the fleet counts its hosts by it.
#pragma once

namespace report {

struct HostReport;

// Which agent protects a host, as far as its log tells.
enum class Protection { NewAgent, OldAgent, None, Unknown };
constexpr int kProtectionCount = 4;
const char* protectionKey(Protection protection);    // "newAgent", ... (JSON)
const char* protectionLabel(Protection protection);  // "new agent", ... (people)

Protection protectionOf(const HostReport& host);

}  // namespace report
