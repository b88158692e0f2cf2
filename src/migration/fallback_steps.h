// The fallback path's steps: the upgrade is refused or impossible.
#pragma once

#include <vector>

#include "migration/step_row.h"

const std::vector<StepRow>& fallbackSteps();
