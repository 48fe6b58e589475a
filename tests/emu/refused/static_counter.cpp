// Refused: a variable in the image.
#include <stdint.h>

#include "sdcard.h"

namespace {
int32_t calls;
}

extern "C" void sdcard_main(int32_t* mode, uint8_t*, int32_t*, int32_t*, int32_t* p4) {
    calls += *mode;
    *p4 = calls;
}
