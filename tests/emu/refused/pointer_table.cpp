// Refused: a constant table of function pointers holds link-time code addresses.
#include <stdint.h>

#include "sdcard.h"

namespace {
__attribute__((noinline)) void one(int32_t* p) { *p = 1; }
__attribute__((noinline)) void two(int32_t* p) { *p = 2; }
} // namespace

extern "C" void sdcard_main(int32_t* mode, uint8_t*, int32_t*, int32_t*, int32_t* p4) {
    static void (*const actions[])(int32_t*) = {one, two};
    actions[*mode & 1](p4);
}
