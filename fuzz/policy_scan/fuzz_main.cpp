#include "policy_scan_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return PolicyScanFuzzOne(data, size);
}
