// Parts of rows that more than one path shares: the network driver update (migration and
// restart), and the application-protection program (every path, where Rampart is registered).
#pragma once

#include "migration/plan_builder.h"
#include "migration/run_context.h"
#include "migration/step_row.h"

// The network driver installers' command lines, or that Windows Server 2008 keeps its drivers.
void describeNetworkDrivers(const StepEnv& env, PlanBuilder& plan);

// "Rampart.exe -s" of the working folder, and a problem when it is missing.
void describeRampartProgram(const StepEnv& env, PlanBuilder& plan);
// The restart and fallback paths' run of it: said, run and waited for; its result is not used.
void runDetectedRampart(RunContext& context);
