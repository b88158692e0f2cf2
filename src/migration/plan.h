// What Relocator.exe would do on this host if it were started now, from this working folder and
// without arguments, worked out without changing anything: the path (decided by choosePath, as
// the run decides it), its steps with the programs it would start (built by the functions the
// run builds them with), the local UI decision of the policy (deciphered in memory) and every
// problem that can be seen ahead. relocator-check prints it. The steps are the rows of the path
// (step_row.h), which describe themselves; the plan adds what is common to every path: the
// record, the run guard, the left-over policy copy and the paths' lengths.
#pragma once

#include <string>
#include <vector>

#include "migration/plan_builder.h"
#include "migration/run_context.h"
#include "personality/personality.h"

// The plan for the host the context describes (its paths built as the run builds them).
RunPlan planRun(const RunContext& context, const Personality& personality);
