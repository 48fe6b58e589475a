// One source, three images: which commands this build of the module has. The
// build sets SDCARD_IMAGE; without it the module is the standard image.
#pragma once

#include <stdint.h>

#include "sdtypes.h"

#define SDCARD_IMAGE_READ_ONLY 1 // commands 0, 1, 2, 4, 5, 6 and 8: nothing is ever written
#define SDCARD_IMAGE_STANDARD 2  // commands 0 to 8: files are written in place
#define SDCARD_IMAGE_GROWING 3   // commands 0 to 12: files are created, grown, shrunk and deleted

#ifndef SDCARD_IMAGE
#define SDCARD_IMAGE SDCARD_IMAGE_STANDARD
#endif

constexpr bool IMAGE_WRITES = SDCARD_IMAGE != SDCARD_IMAGE_READ_ONLY;
constexpr bool IMAGE_GROWS = SDCARD_IMAGE == SDCARD_IMAGE_GROWING;

// Bit n set for each command n the image has; the status command hands it out.
constexpr uint32_t IMAGE_COMMANDS =
    (1u << MODE_SET_CS) | (1u << MODE_OPEN) | (1u << MODE_READ) | (1u << MODE_OPENDIR) |
    (1u << MODE_READDIR) | (1u << MODE_LOAD) | (1u << MODE_STATUS) |
    (IMAGE_WRITES ? (1u << MODE_WRITE) | (1u << MODE_SAVE) : 0) |
    (IMAGE_GROWS ? (1u << MODE_CREATE) | (1u << MODE_SET_SIZE) | (1u << MODE_APPEND) | (1u << MODE_DELETE)
                 : 0);

// The commands that name a file or a directory: each runs the bus set-up and
// mounts the card before it looks the name up.
constexpr uint32_t NAMING_COMMANDS = (1u << MODE_OPEN) | (1u << MODE_OPENDIR) | (1u << MODE_LOAD) |
                                     (1u << MODE_SAVE) | (1u << MODE_CREATE) | (1u << MODE_DELETE);

// Bit `mode` of a mask of commands; none for a number outside 0 to 31.
constexpr uint32_t command_bit(int32_t mode) { return static_cast<uint32_t>(mode) < 32 ? 1u << mode : 0; }

constexpr bool names_a_file(int32_t mode) { return (command_bit(mode) & NAMING_COMMANDS) != 0; }
