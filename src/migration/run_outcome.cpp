#include "migration/run_outcome.h"

const wchar_t* agentStateName(DWORD state) {
    switch (state) {
        case 0:
            return L"not-started";
        case SERVICE_RUNNING:
            return L"running";
        case SERVICE_STOPPED:
            return L"stopped";
        case SERVICE_START_PENDING:
            return L"start-pending";
        case SERVICE_STOP_PENDING:
            return L"stop-pending";
        case SERVICE_PAUSED:
        case SERVICE_PAUSE_PENDING:
        case SERVICE_CONTINUE_PENDING:
            return L"paused";
        default:
            return L"unknown";
    }
}
