// Empty hooks for the command steps that are not built yet.
#include "commands.h"

void bus_setup(STATE_BLOCK*, int32_t, const NameBuffer&) {}
void mode_read(STATE_BLOCK*, uint8_t*, int32_t*, int32_t*, int32_t*) {}
void mode_write(STATE_BLOCK*, uint8_t*, int32_t*, int32_t*) {}
void mode_opendir(STATE_BLOCK*, const NameBuffer&) {}
void mode_readdir(STATE_BLOCK*, uint8_t*) {}
void mode_load(STATE_BLOCK*, const NameBuffer&) {}
void mode_save(STATE_BLOCK*, const NameBuffer&) {}
