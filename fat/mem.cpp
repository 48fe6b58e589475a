// Byte helpers written as plain loops: the chip image links no library.
#include "fat_fs.h"

void mem_set(void* dst, int val, uint32_t cnt) {
    uint8_t* d = static_cast<uint8_t*>(dst);
    while (cnt--) {
        *d++ = static_cast<uint8_t>(val);
    }
}

uint32_t mystrlen(const char* p) {
    uint32_t n = 0;
    while (p[n]) {
        n++;
    }
    return n;
}
