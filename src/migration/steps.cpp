#include "migration/steps.h"

void networkDriverStep(const RunContext&) {}

void filterDriverStep(const RunContext&) {}

void localUiStep(const RunContext&, const std::wstring&) {}
