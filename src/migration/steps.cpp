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

void localUiStep(const RunContext& context,
                 const std::wstring& programFolder,
                 UiAction interrupted,
                 const std::function<void(UiAction)>& record) {
    bool includeLocalGUI = false;
    if (!readPolicy(context.installDir, includeLocalGUI)) {
        logMessage(gLogger, LOG_ERROR, L"Something went wrong with reading policy file\n");
        return;
    }
    // A Server Core installation has no desktop: the policy's request is overruled there.
    bool wanted = includeLocalGUI && !runsOnServerCore();
    bool present = fileExists(context.uiExecutable);
    if (wanted && present && interrupted != UiAction::Install) {
        logMessage(gLogger, LOG_INFO, L"UI should be installed and exists\n");
    } else if (wanted) {
        if (present) {
            // The program was copied, its shortcuts perhaps not yet.
            logMessage(gLogger, LOG_INFO,
                       L"UI installation was cut off by an earlier run. Installing again..\n");
        } else {
            logMessage(gLogger, LOG_INFO,
                       L"UI should be installed and and doesnt exist. Installing..\n");
        }
        record(UiAction::Install);
        if (!installUI(context.installDir, programFolder)) {
            logMessage(gLogger, LOG_ERROR, L"UI can't be installed \n");
        }
    } else if (present) {
        logMessage(gLogger, LOG_INFO, L"UI should NOT be installed and exists. deleting..\n");
        record(UiAction::Remove);
        if (!removeUI(context.installDir))
            logMessage(gLogger, LOG_ERROR, L"UI can't be removed\n");
    } else if (interrupted == UiAction::Remove) {
        // The program is gone, its shortcuts perhaps not yet.
        logMessage(gLogger, LOG_INFO,
                   L"UI removal was cut off by an earlier run. Deleting its shortcuts..\n");
        removeUiShortcuts();
    } else {
        logMessage(gLogger, LOG_INFO,
                   L"UI should NOT be installed and doesn't exists. Doing nothing...\n");
    }
}
