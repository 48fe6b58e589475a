// Byte helpers written as plain loops: the chip image links no library.
#include "pff.h"

void mem_set(void* dst, int val, uint32_t cnt) {
    uint8_t* d = static_cast<uint8_t*>(dst);
    while (cnt--) {
        *d++ = static_cast<uint8_t>(val);
    }
}

int mem_cmp(const void* dst, const void* src, uint32_t cnt) {
    const int8_t* d = static_cast<const int8_t*>(dst);
    const int8_t* s = static_cast<const int8_t*>(src);
    int r = 0;
    while (cnt-- && (r = *d++ - *s++) == 0) {
    }
    return r;
}

uint32_t mystrlen(const char* p) {
    uint32_t n = 0;
    while (p[n]) {
        n++;
    }
    return n;
}
