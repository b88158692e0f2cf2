// The kind of row every path's steps are written as, and the walks over them.
//
// A row is one step of a path, as a configuration resource is: it can say from the host whether
// its work is done (asked only when a migration is resumed), describe itself for the preflight
// (steps, programs with their command lines, problems) and do its work, logging the specified
// lines. The run, the resume and the preflight all walk the same rows, so that the preflight
// cannot describe a path other than the one the run takes. A path is its list of rows:
// migration_steps.cpp, restart_steps.cpp and fallback_steps.cpp.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "migration/host_facts.h"
#include "migration/plan_builder.h"
#include "migration/run_context.h"
#include "migration/run_record.h"
#include "personality/personality.h"

// What a row looks at: the run's paths, the host as read at the start, the record of the
// migration, and whether this run takes up one that an earlier run began.
struct StepEnv {
    const RunContext& context;
    const HostFacts& host;
    const MigrationRecord& record;
    bool resumed;  // an earlier run's record is taken up (steps may find their work done)
    bool trusted;  // and its facts may be trusted: same version, not too old
    const Personality& personality;
};

// The run's hooks into the record while a row works (empty on paths that keep no record). The
// programs a row starts are recorded on every path (recorded_children.h).
struct StepHooks {
    std::function<void(UiAction)> uiDecided;  // before the UI is changed
};

struct StepRow {
    // The record's name for the step (MigrationStep, stored when it begins); None on the paths
    // that keep no record.
    MigrationStep id;
    const wchar_t* title;  // for the plan: "Drivers", ...
    // Runs again whenever this earlier step runs: its work depends on it.
    MigrationStep after;
    // True when the host shows the step's work done (with the record's word for what the host
    // cannot show). Null: the step is never skipped.
    bool (*done)(const StepEnv& env);
    // Whether the step belongs to this run at all (Rampart's program only with Rampart).
    bool (*applies)(const StepEnv& env);
    void (*describe)(const StepEnv& env, PlanBuilder& plan);
    // Does the work; false when it is not finished (a later run must do it again).
    bool (*run)(RunContext& context, const StepEnv& env, const StepHooks& hooks);
};

bool alwaysApplies(const StepEnv& env);

enum class StepDecision { Run, Skip, NotApplicable };
// For each row, what this run does with it. A first run (or a path that keeps no record) does
// every row that applies; a resumed run skips a row only when the record says a run finished
// it and the host shows its work done, and never one that follows a row it runs again (`after`).
// Decided once, from the facts read at the start, so that the preflight reaches the same
// decision as the run; a skipped row changes nothing, so the facts still hold at each row's turn.
std::vector<StepDecision> decideSteps(const std::vector<StepRow>& rows, const StepEnv& env);

// The walk of a path that keeps no record (restart, fallback): every row that applies, in order.
// Returns the exit code its rows set.
DWORD runSteps(const std::vector<StepRow>& rows, RunContext& context, const StepEnv& env);
