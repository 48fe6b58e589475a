// Turning file-system results into console messages.
#pragma once

#include <stdint.h>

#include "sdtypes.h"

// Prints the message of a non-zero result through the host's console.
void errstring(uint8_t a);

// Stores (return address of this call) + a - b into *c. Called with a = 0 and
// b = the link-time address of the point the call returns to, it yields the
// offset between where the module runs and where it was linked.
extern "C" void getFPC(uintptr_t a, uintptr_t b, volatile uint32_t* c);
