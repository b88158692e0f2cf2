#include "report/protection.h"

namespace report {

const char* protectionKey(Protection protection) {
    switch (protection) {
        case Protection::NewAgent:
            return "newAgent";
        case Protection::OldAgent:
            return "oldAgent";
        case Protection::None:
            return "unprotected";
        case Protection::Unknown:
            break;
    }
    return "unknown";
}

const char* protectionLabel(Protection protection) {
    switch (protection) {
        case Protection::NewAgent:
            return "new agent";
        case Protection::OldAgent:
            return "old agent";
        case Protection::None:
            return "none (unprotected)";
        case Protection::Unknown:
            break;
    }
    return "unknown";
}

}  // namespace report
