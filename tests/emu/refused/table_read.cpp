// Refused: a constant table read through its link-time address.
#include <stdint.h>

#include "sdcard.h"

extern "C" void sdcard_main(int32_t* mode, uint8_t*, int32_t*, int32_t*, int32_t* p4) {
    static const int32_t squares[] = {0, 1, 4, 9, 16, 25, 36, 49, 64, 81, 100, 121};
    *p4 = squares[*mode % 12];
}
