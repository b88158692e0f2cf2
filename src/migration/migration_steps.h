// The migration's steps as one list, which the run, the resume and the preflight walk alike.
//
// Each step can say from the host whether its work is done (asked only when a migration is
// resumed), describe itself for the preflight (steps, programs with their command lines,
// problems) and do its work, logging the specified lines. A first run does every step in order.
// A resumed run skips a step only when the record says a run finished it and the host shows its
// work done, and never skips a step that follows one it runs again (`after`). The decision is
// made once, from the facts read at the start (HostFacts), so the preflight reaches the same
// decision as the run; a skipped step changes nothing, so the facts still hold when each later
// step's turn comes.
//
// To add a step: give it a MigrationStep (run_record.h: its name is stored in the record), then
// a row of kSteps in migration_steps.cpp with its test, its description and its work.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "migration/host_facts.h"
#include "migration/run_context.h"
#include "migration/run_record.h"
#include "personality/personality.h"

struct RunPlan;
class PlanBuilder;

// What a step looks at: the run's paths, the host as read at the start, the record of the
// migration, and whether this run takes up one that an earlier run began.
struct StepEnv {
    const RunContext& context;
    const HostFacts& host;
    const MigrationRecord& record;
    bool resumed;  // an earlier run's record is taken up (steps may find their work done)
    bool trusted;  // and its facts may be trusted: same version, not too old
    const Personality& personality;
};

// The run's hooks into the record while a step works.
struct StepHooks {
    std::function<void(UiAction)> uiDecided;                        // before the UI is changed
    std::function<void(HANDLE, const std::wstring&)> childStarted;  // a program started
};

struct MigrationStepDef {
    MigrationStep id;
    const wchar_t* title;  // for the plan: "Drivers", ...
    // Runs again whenever this earlier step runs: its work depends on it.
    MigrationStep after;
    // True when the host shows the step's work done (with the record's word for what the host
    // cannot show). Null: the step is never skipped.
    bool (*done)(const StepEnv& env);
    // Whether the step belongs to this migration at all (Rampart's program only with Rampart).
    bool (*applies)(const StepEnv& env);
    void (*describe)(const StepEnv& env, PlanBuilder& plan);
    // Does the work; false when it is not finished (a later run must do it again).
    bool (*run)(RunContext& context, const StepEnv& env, const StepHooks& hooks);
};

// The steps in order.
const std::vector<MigrationStepDef>& migrationSteps();

enum class StepDecision { Run, Skip, NotApplicable };
// For each step of migrationSteps(), what this migration does with it.
std::vector<StepDecision> decideSteps(const StepEnv& env);

// Versions and ages of a record whose facts a run takes on trust; older records are said in
// the log and the migration is done again from the start. A record that waits for a restart is
// always taken on trust.
constexpr long long kRecordTrustDays = 30;
bool recordTrusted(const MigrationRecord& record);

// The restart path's network driver step and the application-protection program, described
// as the migration's steps describe them.
void describeNetworkDrivers(const StepEnv& env, PlanBuilder& plan);
void describeRampartProgram(const StepEnv& env, PlanBuilder& plan);
