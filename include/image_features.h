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
