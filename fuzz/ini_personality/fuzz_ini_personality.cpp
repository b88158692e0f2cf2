// libFuzzer entry: every input goes through RunIniPersonalityInput.
#include <cstddef>
#include <cstdint>

#include "ini_personality_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return inifuzz::RunIniPersonalityInput(data, size);
}
