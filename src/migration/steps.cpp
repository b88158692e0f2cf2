#include "migration/steps.h"

#include "drivers/filter_driver.h"
#include "drivers/network_driver.h"
#include "logging/logger.h"
#include "win/file_exists.h"
#include "migration/server_core.h"
#include "policy_ui/local_ui.h"

void networkDriverStep(const RunContext& context) {
    UpdateNetworkDrivers(context.installDir);
}

void filterDriverStep(const RunContext& context) {
    UpdateminiFilterDriver(context.installDir);
}

UiStep decideUiStep(bool wanted, bool present, UiAction interrupted) {
    if (wanted && present)
        return interrupted == UiAction::Install ? UiStep::InstallAgain : UiStep::Keep;
    if (wanted)
        return UiStep::Install;
    if (present)
        return UiStep::Remove;
    return interrupted == UiAction::Remove ? UiStep::RemoveShortcuts : UiStep::Nothing;
}

void localUiStep(const RunContext& context,
                 const std::wstring& programFolder,
                 bool wanted,
                 UiAction interrupted,
                 const std::function<void(UiAction)>& record) {
    const UiStep step = decideUiStep(wanted, fileExists(context.uiExecutable), interrupted);
    switch (step) {
        case UiStep::Keep:
            record(UiAction::Keep);
            logMessage(gLogger, LOG_INFO, L"UI should be installed and exists\n");
            break;
        case UiStep::Install:
        case UiStep::InstallAgain:
            if (step == UiStep::InstallAgain) {
                // The program was copied, its shortcuts perhaps not yet.
                logMessage(gLogger, LOG_INFO,
                           L"UI installation was cut off by an earlier run. Installing again..\n");
            } else {
                logMessage(gLogger, LOG_INFO,
                           L"UI should be installed and and doesnt exist. Installing..\n");
            }
            record(UiAction::Install);
            if (!installUI(context.installDir, programFolder))
                logMessage(gLogger, LOG_ERROR, L"UI can't be installed \n");
            break;
        case UiStep::Remove:
            logMessage(gLogger, LOG_INFO, L"UI should NOT be installed and exists. deleting..\n");
            record(UiAction::Remove);
            if (!removeUI(context.installDir))
                logMessage(gLogger, LOG_ERROR, L"UI can't be removed\n");
            break;
        case UiStep::RemoveShortcuts:
            // The program is gone, its shortcuts perhaps not yet.
            record(UiAction::Remove);
            logMessage(gLogger, LOG_INFO,
                       L"UI removal was cut off by an earlier run. Deleting its shortcuts..\n");
            removeUiShortcuts();
            break;
        case UiStep::Nothing:
            record(UiAction::Absent);
            logMessage(gLogger, LOG_INFO,
                       L"UI should NOT be installed and doesn't exists. Doing nothing...\n");
            break;
    }
}
