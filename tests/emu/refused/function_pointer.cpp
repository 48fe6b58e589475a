// Refused: a function's absolute address formed in code.
#include <stdint.h>

#include "sdcard.h"

namespace {
__attribute__((noinline)) void set(int32_t* p) { *p = 7; }
} // namespace

extern "C" void sdcard_main(int32_t* mode, uint8_t*, int32_t*, int32_t*, int32_t* p4) {
    void (*volatile action)(int32_t*) = set;
    if (*mode == 0) {
        action(p4);
    }
}
