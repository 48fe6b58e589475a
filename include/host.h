// Typed calls of the host services; each reads its table entry afresh.
#pragma once

#include "hw.h"

inline void host_delay(uint32_t us) { host_entry<host_delay_fn>(HOST_DELAY)(us); }

inline void host_pin_config(int32_t pin, int32_t code, int32_t zero) {
    host_entry<host_pin_config_fn>(HOST_PIN_CONFIG)(pin, code, zero);
}

inline void host_pin_write(int32_t pin, int32_t code) {
    host_entry<host_pin_write_fn>(HOST_PIN_WRITE)(pin, code);
}

inline uint8_t* host_alloc(uint32_t size) {
    return static_cast<uint8_t*>(host_entry<host_alloc_fn>(HOST_ALLOC)(size));
}

inline int32_t* host_pin_states() { return host_entry<int32_t*>(HOST_PIN_STATES); }

inline uint8_t* host_state_block() { return host_entry<uint8_t*>(HOST_STATE_BLOCK); }

inline option_s* host_options() { return host_entry<option_s*>(HOST_OPTIONS); }

inline void host_load_program(uint8_t* text, int32_t zero) {
    host_entry<host_load_program_fn>(HOST_LOAD_PROGRAM)(text, zero);
}

inline void host_print(const char* message) { host_entry<host_print_fn>(HOST_PRINT)(message); }

inline uint8_t* host_program_memory() { return host_entry<uint8_t*>(HOST_PROGRAM_MEMORY); }

inline void host_prepare_load() { host_entry<host_prepare_load_fn>(HOST_PREPARE_LOAD)(); }

inline uint8_t* host_list_line(char* buffer, uint8_t* line) {
    return host_entry<host_list_line_fn>(HOST_LIST_LINE)(buffer, line);
}

// The chip-select pin, read from the option record at every use.
inline int32_t chip_select_pin() { return host_options()->SDCARD_CS; }
