// The restart path's steps: the new agent is registered and present.
#pragma once

#include <vector>

#include "migration/step_row.h"

const std::vector<StepRow>& restartSteps();
