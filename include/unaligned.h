// Words read or written in place at any alignment: on the chip each access is
// an unaligned load or store pair. Card fields and the chip are little-endian.
#pragma once

#include <stdint.h>

typedef uint16_t __attribute__((aligned(1), may_alias)) unaligned_u16;
typedef uint32_t __attribute__((aligned(1), may_alias)) unaligned_u32;
