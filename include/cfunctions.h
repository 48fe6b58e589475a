// The host interpreter's service table and option record, as the module sees them.
//
// The host keeps a table of 32-bit words at a fixed flash address; each word is
// the entry point of a service or the address of some host data. The module reads
// the word at every use and never caches it, so the host may move its data.
#pragma once

#include <stdint.h>

constexpr uint32_t HOST_TABLE_ADDRESS = 0x9D000000;

// Byte offsets of the entries in the table.
constexpr uint32_t HOST_DELAY = 0x04;
constexpr uint32_t HOST_PIN_CONFIG = 0x10;
constexpr uint32_t HOST_PIN_WRITE = 0x1C;
constexpr uint32_t HOST_ALLOC = 0x40;
constexpr uint32_t HOST_PIN_STATES = 0x88;
constexpr uint32_t HOST_STATE_BLOCK = 0x8C;
constexpr uint32_t HOST_OPTIONS = 0x90;
constexpr uint32_t HOST_LOAD_PROGRAM = 0xB8;
constexpr uint32_t HOST_PRINT = 0xBC;
constexpr uint32_t HOST_PROGRAM_MEMORY = 0xC0;
constexpr uint32_t HOST_PREPARE_LOAD = 0xC4;
constexpr uint32_t HOST_LIST_LINE = 0xC8;
constexpr uint32_t HOST_TABLE_SIZE = 0xCC;

// Pin configuration codes and chip-select drive codes the host understands.
constexpr int32_t PIN_CODE_INPUT = 2;
constexpr int32_t PIN_CODE_OUTPUT = 8;
constexpr int32_t PIN_CODE_BUS = 100;
constexpr int32_t PIN_CODE_CHIP_SELECT = 101;
constexpr int32_t PIN_DRIVE_LOW = 5;
constexpr int32_t PIN_DRIVE_HIGH = 6;

// The host's option record; only the chip-select pin concerns the module.
struct option_s {
    uint8_t other_options[48];
    int8_t SDCARD_CS;
    uint8_t more_options[15];
};
static_assert(__builtin_offsetof(option_s, SDCARD_CS) == 48, "SDCARD_CS lives at byte 48");

// Signatures of the services, as called through the table.
typedef void (*host_delay_fn)(uint32_t us);
typedef void (*host_pin_config_fn)(int32_t pin, int32_t code, int32_t zero);
typedef void (*host_pin_write_fn)(int32_t pin, int32_t code);
typedef void* (*host_alloc_fn)(uint32_t size);
typedef void (*host_load_program_fn)(uint8_t* text, int32_t zero);
typedef void (*host_print_fn)(const char* message);
typedef void (*host_prepare_load_fn)();
typedef uint8_t* (*host_list_line_fn)(char* buffer, uint8_t* line);
