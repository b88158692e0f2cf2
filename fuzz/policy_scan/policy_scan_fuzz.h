// One input through the fgets splitter and the marker scanner, checked against a search over
// whole lines (shared by the fuzz target and the seed replay test).
#pragma once

#include <cstddef>
#include <cstdint>

int PolicyScanFuzzOne(const uint8_t* data, size_t size);
