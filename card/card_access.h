// What the driver's functions share: chip select through the host, and the
// two words the driver keeps in the host's state block. The module has no
// data of its own, so everything that outlives a call lives there.
#pragma once

#include <stdint.h>

#include "cfunctions.h"
#include "diskio.h"
#include "host.h"
#include "sd_protocol.h"
#include "sdtypes.h"
#include "state_offsets.h"

// Ends a transaction: deselects the card, which lets go of data-out after
// one more clocked byte.
void card_release();

inline uint32_t* card_kind_word() {
    return reinterpret_cast<uint32_t*>(host_state_block() + STATE_CARD_KIND);
}

// Data bytes the card still expects in the block being written.
inline uint16_t* write_count() { return reinterpret_cast<uint16_t*>(host_state_block() + STATE_WC); }

// CRC16 of the bytes of that block sent so far.
inline uint16_t* write_crc() { return reinterpret_cast<uint16_t*>(host_state_block() + STATE_WRITE_CRC); }

// What send_block_cmd answers for a sector the card cannot address: above
// every response byte, so no answer of the card can be taken for it.
constexpr uint32_t NOT_ADDRESSABLE = 0x100;

// Sends a block command for `sector`: block-addressed cards take the sector
// number, the others its byte address. A byte address has 32 bits: on a
// byte-addressed card a sector from 4 GiB on would wrap onto a low sector of
// the card, so it is not addressable at all and the card sees nothing.
// Inlined into its two callers: MIPS16e has no tail call, so a function of
// its own would put a frame under the deepest chain (24 bytes).
[[gnu::always_inline]] inline uint32_t send_block_cmd(uint8_t cmd, uint32_t sector) {
    if ((*card_kind_word() & KIND_BLOCK) == 0) {
        if (sector >= (1u << (32 - BLOCK_SHIFT))) {
            return NOT_ADDRESSABLE;
        }
        sector <<= BLOCK_SHIFT;
    }
    return send_cmd(cmd, sector);
}
