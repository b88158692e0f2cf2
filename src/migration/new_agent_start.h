// The start of the new agent as every path that starts it does it: the watch that tells a start
// that came up from one that hangs, the rescue of a hung start, and the old agent's start when
// the new one still does not run, so that no host is left without an agent.
#pragma once

#include <windows.h>

#include "migration/plan_builder.h"
#include "migration/run_context.h"
#include "migration/step_row.h"

// Pause between ending a hung agent process and the second start.
constexpr DWORD kRestartPauseMs = 1000;

// Whether the new agent's service is seen running after a start with this result: a start
// that was accepted, or answered "already running" (1056, which a start-pending service answers
// too), is watched while it is start-pending (at most 30 s); a failed start counts only when the
// service reports itself running all the same. Logs "KLOTarvos is already running" for a
// running service that the start did not start, and at ERROR a service not running after the
// wait; records the state seen in the context.
bool seeNewAgentRunning(RunContext& context, DWORD startResult);

// After a start that did not bring the new agent up: when a "thService.exe" runs, the rescue
// (end the service's own process, pause, start once more, watch again); when the agent still
// does not run, the old agent "Glacis" is started so that the host is not left without one.
// Logs the specified lines; the exit code is not touched.
void rescueNewAgent(RunContext& context);

// The start, its watch and its rescue, for the plan.
void describeNewAgentStart(const StepEnv& env, PlanBuilder& plan);
