// One input read as a collected log, the report's judgement checked for consistency, and every
// output's escaping checked on what the input put into the report (shared by the fuzz target
// and the seed replay test).
#pragma once

#include <cstddef>
#include <cstdint>

int ReportLogFuzzOne(const uint8_t* data, size_t size);
