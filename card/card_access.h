// What the driver's functions share: chip select through the host, and the
// two words the driver keeps in the host's state block. The module has no
// data of its own, so everything that outlives a call lives there.
#pragma once

#include <stdint.h>

#include "cfunctions.h"
#include "host.h"
#include "sdtypes.h"
#include "state_offsets.h"

// The pin number is taken from the option record at every use, so a change
// between frames takes effect at the next one.
inline void card_select() { host_pin_write(chip_select_pin(), PIN_DRIVE_LOW); }
inline void card_deselect() { host_pin_write(chip_select_pin(), PIN_DRIVE_HIGH); }

inline uint32_t* card_kind_word() {
    return reinterpret_cast<uint32_t*>(host_state_block() + STATE_CARD_KIND);
}

// Data bytes the card still expects in the block being written.
inline uint16_t* write_count() { return reinterpret_cast<uint16_t*>(host_state_block() + STATE_WC); }

// Block-addressed cards take the sector number, the others its byte address.
inline uint32_t card_address(uint32_t sector) {
    return (*card_kind_word() & KIND_BLOCK) ? sector : sector << 9;
}

// A byte address has 32 bits: on a byte-addressed card a sector from 4 GiB on
// would wrap onto a low sector of the card, so it is not addressable at all.
inline bool card_addressable(uint32_t sector) {
    return (*card_kind_word() & KIND_BLOCK) || sector < (1u << 23);
}
