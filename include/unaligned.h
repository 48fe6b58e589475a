// Words read or written in place at any alignment: on the chip each access is
// an unaligned load or store pair. Card fields and the chip are little-endian.
#pragma once

#include <stdint.h>

// The loads take a field's bytes in the host's own order: right only on a
// little-endian host (the chip runs little-endian, -EL).
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "card fields are read in the host's byte order");

typedef uint16_t __attribute__((aligned(1), may_alias)) unaligned_u16;
typedef uint32_t __attribute__((aligned(1), may_alias)) unaligned_u32;
