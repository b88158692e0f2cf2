#include "migration/step_row.h"

bool alwaysApplies(const StepEnv&) {
    return true;
}

std::vector<StepDecision> decideSteps(const std::vector<StepRow>& rows, const StepEnv& env) {
    std::vector<StepDecision> decisions;
    std::vector<MigrationStep> ran;
    for (const StepRow& step : rows) {
        if (!step.applies(env)) {
            decisions.push_back(StepDecision::NotApplicable);
            continue;
        }
        bool followsRun = false;
        for (MigrationStep earlier : ran)
            followsRun = followsRun || (earlier != MigrationStep::None && earlier == step.after);
        const bool skip =
            env.resumed && env.trusted && !followsRun && step.done != nullptr && step.done(env);
        decisions.push_back(skip ? StepDecision::Skip : StepDecision::Run);
        if (!skip)
            ran.push_back(step.id);
    }
    return decisions;
}

DWORD runSteps(const std::vector<StepRow>& rows, RunContext& context, const StepEnv& env) {
    const StepHooks none;
    const std::vector<StepDecision> decisions = decideSteps(rows, env);
    for (size_t i = 0; i < rows.size(); ++i) {
        if (decisions[i] == StepDecision::Run)
            rows[i].run(context, env, none);
    }
    return context.exitCode;
}
