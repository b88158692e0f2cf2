#include "classify_lines_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return ClassifyLinesFuzzOne(data, size);
}
