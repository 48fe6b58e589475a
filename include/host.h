// Typed calls of the host services; each reads its table entry afresh. Always
// inlined: MIPS16e has no tail call, so a wrapper of its own would add a frame
// under every host service, the deepest chain's end among them (24 bytes), and
// inlined the image is smaller too (28 bytes on the standard image).
#pragma once

#include "hw.h"

[[gnu::always_inline]] inline void host_delay(uint32_t us) { host_entry<host_delay_fn>(HOST_DELAY)(us); }

[[gnu::always_inline]] inline void host_pin_config(int32_t pin, int32_t code, int32_t zero) {
    host_entry<host_pin_config_fn>(HOST_PIN_CONFIG)(pin, code, zero);
}

[[gnu::always_inline]] inline void host_pin_write(int32_t pin, int32_t code) {
    host_entry<host_pin_write_fn>(HOST_PIN_WRITE)(pin, code);
}

[[gnu::always_inline]] inline uint8_t* host_alloc(uint32_t size) {
    return static_cast<uint8_t*>(host_entry<host_alloc_fn>(HOST_ALLOC)(size));
}

[[gnu::always_inline]] inline int32_t* host_pin_states() { return host_entry<int32_t*>(HOST_PIN_STATES); }

[[gnu::always_inline]] inline uint8_t* host_state_block() { return host_entry<uint8_t*>(HOST_STATE_BLOCK); }

[[gnu::always_inline]] inline option_s* host_options() { return host_entry<option_s*>(HOST_OPTIONS); }

[[gnu::always_inline]] inline void host_load_program(uint8_t* text, int32_t zero) {
    host_entry<host_load_program_fn>(HOST_LOAD_PROGRAM)(text, zero);
}

[[gnu::always_inline]] inline void host_print(const char* message) {
    host_entry<host_print_fn>(HOST_PRINT)(message);
}

[[gnu::always_inline]] inline uint8_t* host_program_memory() {
    return host_entry<uint8_t*>(HOST_PROGRAM_MEMORY);
}

[[gnu::always_inline]] inline void host_prepare_load() {
    host_entry<host_prepare_load_fn>(HOST_PREPARE_LOAD)();
}

[[gnu::always_inline]] inline uint8_t* host_list_line(char* buffer, uint8_t* line) {
    return host_entry<host_list_line_fn>(HOST_LIST_LINE)(buffer, line);
}

// The chip-select pin, read from the option record at every use.
[[gnu::always_inline]] inline int32_t chip_select_pin() { return host_options()->SDCARD_CS; }
