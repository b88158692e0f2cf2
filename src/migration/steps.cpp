#include "migration/steps.h"

#include "drivers/filter_driver.h"
#include "drivers/network_driver.h"
#include "logging/logger.h"
#include "win/file_exists.h"
#include "migration/server_core.h"
#include "policy_ui/local_ui.h"
#include "policy_ui/policy_reader.h"

void networkDriverStep(const RunContext& context) {
    UpdateNetworkDrivers(context.installDir);
}

void filterDriverStep(const RunContext& context) {
    UpdateminiFilterDriver(context.installDir);
}

void localUiStep(const RunContext& context, const std::wstring& programFolder) {
    bool includeLocalGUI = false;
    if (!readPolicy(context.installDir, includeLocalGUI)) {
        logMessage(gLogger, LOG_ERROR, L"Something went wrong with reading policy file\n");
        return;
    }
    // A Server Core installation has no desktop: the policy's request is overruled there.
    bool wanted = includeLocalGUI && !runsOnServerCore();
    bool present = fileExists(context.uiExecutable);
    if (wanted && present) {
        logMessage(gLogger, LOG_INFO, L"UI should be installed and exists\n");
    } else if (wanted) {
        logMessage(gLogger, LOG_INFO,
                   L"UI should be installed and and doesnt exist. Installing..\n");
        if (!installUI(context.installDir, programFolder)) {
            logMessage(gLogger, LOG_ERROR, L"UI can't be installed \n");
        }
    } else if (present) {
        logMessage(gLogger, LOG_INFO, L"UI should NOT be installed and exists. deleting..\n");
        if (!removeUI(context.installDir))
            logMessage(gLogger, LOG_ERROR, L"UI can't be removed\n");
    } else {
        logMessage(gLogger, LOG_INFO,
                   L"UI should NOT be installed and doesn't exists. Doing nothing...\n");
    }
}
