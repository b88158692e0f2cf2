// The jobs the paths hand to other subsystems at fixed points: the network and filter driver
// updates and bringing the local user interface in line with the policy.
#pragma once

#include <string>

#include "migration/run_context.h"

void networkDriverStep(const RunContext& context);
void filterDriverStep(const RunContext& context);
void localUiStep(const RunContext& context, const std::wstring& programFolder);
