// The migration's steps as one list of rows, which the run, the resume and the preflight walk
// alike (step_row.h).
//
// To add a step: give it a MigrationStep (run_record.h: its name is stored in the record), then
// a row of kSteps in migration_steps.cpp with its test, its description and its work.
#pragma once

#include <vector>

#include "migration/step_row.h"

// The rows in order.
const std::vector<StepRow>& migrationSteps();
