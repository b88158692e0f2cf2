// The jobs the paths hand to other subsystems at fixed points: the network and filter driver
// updates and bringing the local user interface in line with the policy.
#pragma once

#include <functional>
#include <string>

#include "migration/run_context.h"
#include "migration/run_record.h"
#include "migration/step_row.h"

void networkDriverStep(const RunContext& context);
void filterDriverStep(const RunContext& context);

// What the local UI step does, from whether the policy wants the user interface (and the host
// can show it), whether its program is there, and what a run cut off in this step had set out
// to do. The run and the preflight both decide with it.
enum class UiStep { Keep, Install, InstallAgain, Remove, RemoveShortcuts, Nothing };
UiStep decideUiStep(bool wanted, bool present, UiAction interrupted);

// Brings the user interface in line with what is wanted (the policy, overruled on Server
// Core), logging the specified decision. `interrupted` is what a run cut off in this step had set
// out to do (None on a first run): its installation or removal is finished even though the
// program's presence already says otherwise. `record` is told the decision before anything is
// changed.
void localUiStep(const RunContext& context,
                 const std::wstring& programFolder,
                 bool wanted,
                 UiAction interrupted,
                 const std::function<void(UiAction)>& record);

// The migration's local user interface row (migration_steps.cpp): its work is done when the
// program and its shortcuts are as the decision the record holds wants them; it describes and
// does the step as above, reading the policy, or on a resumed run whose policy cannot be read,
// finishing what the interrupted run decided.
bool localUiDone(const StepEnv& env);
void describeLocalUi(const StepEnv& env, PlanBuilder& plan);
bool runLocalUi(RunContext& context, const StepEnv& env, const StepHooks& hooks);
