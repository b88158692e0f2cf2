// The fallback path as its rows: the failure banner with the old agent's start, and Rampart's
// program where it is registered.
#include "migration/fallback_steps.h"

#include "logging/logger.h"
#include "migration/run_outcome.h"
#include "migration/shared_steps.h"
#include "win/file_exists.h"
#include "win/registry.h"

namespace {

// ---- The banner, and the old agent started again. Nothing was upgraded: a deployment system
// must not count this host as done. With the new agent's program there, only an argument can
// have sent the run here.

void describeBanner(const StepEnv& env, PlanBuilder& plan) {
    const RunContext& c = env.context;
    plan.fallbackReason(c.tarvosExecutable + L" is missing");
    plan.problem("new-agent-missing",
                 L"The new agent's program " + c.tarvosExecutable + L" is missing.",
                 L"The run takes the fallback path: it logs the failure banner, starts the old "
                 L"agent again and returns 2.",
                 L"Copy the Tarvos files into the installation folder " + c.installDir +
                     L" before the run.");
    plan.step(L"Log \"*** AGENT UPGRADE FAILED ...\" and start service Glacis");
}

bool runBanner(RunContext& context, const StepEnv&, const StepHooks&) {
    // clang-format off
    logMessage(gLogger, LOG_ERROR, L"*** AGENT UPGRADE FAILED. PLEASE GENERATE AGENT BUILD AND INSTALL LATEST VERSION MANUALLY *****.\n");
    // clang-format on
    logMessage(gLogger, LOG_ERROR, L"Starting old Glacis Service\n");
    if (context.startStop.startSingleService(context.glacisService.c_str()) != 0)
        logMessage(gLogger, LOG_ERROR, L"Can't Start Glacisd Service.\n");
    context.exitCode =
        fileExists(context.tarvosExecutable) ? kArgumentGivenExitCode : kNewAgentMissingExitCode;
    return true;
}

// ---- Application protection, where Rampart is registered.

void describeRampart(const StepEnv& env, PlanBuilder& plan) {
    if (env.host.rampartKey)
        describeRampartProgram(env, plan);
}

bool runRampart(RunContext& context, const StepEnv&, const StepHooks&) {
    if (win::keyPresent(HKEY_LOCAL_MACHINE, kRampartServiceKey))
        runDetectedRampart(context);
    return true;
}

const std::vector<StepRow> kSteps = {
    {MigrationStep::None, L"Failure banner and old agent", MigrationStep::None, nullptr,
     alwaysApplies, describeBanner, runBanner},
    {MigrationStep::None, L"Application protection", MigrationStep::None, nullptr, alwaysApplies,
     describeRampart, runRampart},
};

}  // namespace

const std::vector<StepRow>& fallbackSteps() {
    return kSteps;
}
