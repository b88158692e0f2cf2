#include "migration/steps.h"

#include "drivers/filter_driver.h"
#include "drivers/network_driver.h"
#include "logging/logger.h"
#include "migration/server_core.h"
#include "policy_ui/local_ui.h"
#include "policy_ui/policy_reader.h"
#include "win/file_exists.h"
#include "win/strings.h"

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

// ---- The migration's local user interface row: installed or removed as the policy says.

namespace {

// What a run cut off in this step had set out to do: its installation or removal is finished
// even where the program's presence already says otherwise.
UiAction interruptedUiAction(const StepEnv& env) {
    return env.resumed ? env.record.uiAction : UiAction::None;
}

// When the policy cannot be read on a resumed run, the decision the interrupted run made.
bool recordedUiWish(const StepEnv& env, bool& wanted) {
    switch (interruptedUiAction(env)) {
        case UiAction::Install:
        case UiAction::Keep:
            wanted = true;
            return true;
        case UiAction::Remove:
        case UiAction::Absent:
            wanted = false;
            return true;
        case UiAction::None:
            break;
    }
    return false;
}

std::wstring programFolder() {
    std::wstring folder;
    if (!win::moduleFolder(folder)) {
        logMessage(gLogger, LOG_ERROR, L"can't get current module name\n");
        folder.clear();
    }
    logMessage(gLogger, LOG_ERROR, L"Pick up GlacisUi from %s\n", folder.c_str());
    return folder;
}

}  // namespace

// The program and its shortcuts are as the decision the record holds wants them.
bool localUiDone(const StepEnv& env) {
    const HostFacts& h = env.host;
    switch (env.record.uiAction) {
        case UiAction::Install:
        case UiAction::Keep:
            return env.record.isDone(MigrationStep::LocalUi) && h.uiProgram && h.uiShortcuts == 3;
        case UiAction::Remove:
        case UiAction::Absent:
            return env.record.isDone(MigrationStep::LocalUi) && !h.uiProgram && h.uiShortcuts == 0;
        case UiAction::None:
            break;
    }
    return false;
}

void describeLocalUi(const StepEnv& env, PlanBuilder& plan) {
    const RunContext& c = env.context;
    const PolicyPreview policy = previewPolicy(c.installDir);
    bool wanted = policy == PolicyPreview::IncludeUi && !runsOnServerCore();
    if (policy == PolicyPreview::Missing || policy == PolicyPreview::CannotDecipher ||
        policy == PolicyPreview::NoMarker) {
        const wchar_t* text = policy == PolicyPreview::Missing ? L" is missing."
                              : policy == PolicyPreview::NoMarker
                                  ? L" holds no IncludeLocalGUI='true' or 'false' marker."
                                  : L" cannot be read or deciphered.";
        if (!recordedUiWish(env, wanted)) {
            plan.localUi(L"left as it is (the policy cannot be used)");
            plan.step(L"Local user interface: left as it is (the policy cannot be used)");
            plan.problem(policy == PolicyPreview::Missing    ? "policy-missing"
                         : policy == PolicyPreview::NoMarker ? "policy-no-marker"
                                                             : "policy-unreadable",
                         c.policyFile + text,
                         L"The user interface is left as it is (installed or not); the run logs "
                         L"\"Something went wrong with reading policy file\".",
                         L"Deploy a valid policy.xml with the agent files.");
            return;
        }
        plan.step(
            L"The policy cannot be used now: the user interface step of the interrupted "
            L"run is finished as it decided");
    }
    std::wstring folder;
    win::moduleFolder(folder);
    const std::wstring source = folder + L"\\glacis.exe";
    std::wstring decision;
    switch (decideUiStep(wanted, env.host.uiProgram, interruptedUiAction(env))) {
        case UiStep::Install:
        case UiStep::InstallAgain:
            plan.localUi(L"install (the policy asks for it)");
            plan.step(L"Copy " + source + L" to " + c.uiExecutable +
                      L" and make its three shortcuts");
            if (!fileExists(source)) {
                plan.problem("ui-program-missing", source + L" is missing beside the tool.",
                             L"The user interface is not installed (the run logs the copy "
                             L"failure, 2).",
                             L"Put glacis.exe beside Relocator.exe in the package.");
            }
            return;
        case UiStep::Remove:
            plan.localUi(L"remove (the policy asks against it, or Server Core)");
            plan.step(L"Delete " + c.uiExecutable + L" and its three shortcuts");
            return;
        case UiStep::Keep:
            decision = L"keep (the policy asks for it and it is installed)";
            break;
        case UiStep::RemoveShortcuts:
            decision = L"delete the shortcuts an interrupted removal left";
            break;
        case UiStep::Nothing:
            decision = L"none (not wanted, not installed)";
            break;
    }
    plan.localUi(decision);
    plan.step(L"Local user interface: " + decision);
}

bool runLocalUi(RunContext& context, const StepEnv& env, const StepHooks& hooks) {
    const std::wstring folder = programFolder();
    bool includeLocalGUI = false;
    bool wanted = false;
    if (readPolicy(context.installDir, includeLocalGUI)) {
        // A Server Core installation has no desktop: the policy's request is overruled there.
        wanted = includeLocalGUI && !runsOnServerCore();
    } else if (recordedUiWish(env, wanted)) {
        logMessage(gLogger, LOG_INFO,
                   L"The policy cannot be read now: finishing the user interface step as the "
                   L"interrupted run decided\n");
    } else {
        logMessage(gLogger, LOG_ERROR, L"Something went wrong with reading policy file\n");
        return false;
    }
    localUiStep(context, folder, wanted, interruptedUiAction(env), hooks.uiDecided);
    return true;
}
