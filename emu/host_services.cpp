#include "host_services.h"

#include <array>
#include <cstdio>
#include <string>

#include "cfunctions.h"
#include "chip_map.h"
#include "emu_cpu.h"
#include "host_costs.h"
#include "ram_layout.h"

namespace emu {
namespace {

constexpr uint32_t MAX_MESSAGE = 4096;

std::string hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", v);
    return text;
}

uint32_t reg(uc_engine* uc, int id) {
    uint32_t value = 0;
    uc_reg_read(uc, id, &value);
    return value;
}

int32_t arg(uc_engine* uc, int id) { return static_cast<int32_t>(reg(uc, id)); }

// The message may live anywhere the chip can read, typically the image's own flash.
std::string read_text(uc_engine* uc, uint32_t address) {
    std::string text;
    for (uint32_t i = 0; i < MAX_MESSAGE; ++i) {
        char c = 0;
        if (uc_mem_read(uc, address + i, &c, 1) != UC_ERR_OK) {
            throw EmuFault("host_print was handed " + hex(address) + ", which runs into unmapped memory");
        }
        if (c == 0) {
            return text;
        }
        text.push_back(c);
    }
    throw EmuFault("host_print was handed " + hex(address) + ": no terminating zero within " +
                   std::to_string(MAX_MESSAGE) + " bytes");
}

// The table offset of the service whose code starts at `entry`; a place
// inside a service's code, or past the last, has none (the table's size).
uint32_t service_at(uint32_t entry) {
    const uint32_t offset = (entry - TRAP_BASE) / SERVICE_CODE_BYTES * 4;
    return service_entry(offset) == entry ? offset : HOST_TABLE_SIZE;
}

} // namespace

uint32_t ram_offset(uint32_t address, const char* what) {
    for (uint32_t base : {RAM_BASE, RAM_UNCACHED_BASE}) {
        if (address >= base && address - base < sim::RAM_SIZE) {
            return address - base;
        }
    }
    throw EmuFault(std::string(what) + " was handed " + hex(address) + ", which is not in RAM");
}

void install_host_table(uc_engine* uc) {
    constexpr uint32_t kReturn[] = {0x03E00008, 0}; // jr $ra; nop
    std::array<uint32_t, HOST_TABLE_SIZE / 4> table{};
    for (uint32_t service : {HOST_DELAY, HOST_PIN_CONFIG, HOST_PIN_WRITE, HOST_ALLOC, HOST_LOAD_PROGRAM,
                             HOST_PRINT, HOST_PREPARE_LOAD, HOST_LIST_LINE}) {
        table[service / 4] = service_entry(service);
        uc_mem_write(uc, service_entry(service), kReturn, sizeof kReturn);
    }
    table[HOST_PIN_STATES / 4] = RAM_BASE + sim::RAM_PIN_STATES;
    table[HOST_STATE_BLOCK / 4] = RAM_BASE + sim::RAM_STATE;
    table[HOST_OPTIONS / 4] = RAM_BASE + sim::RAM_OPTIONS;
    table[HOST_PROGRAM_MEMORY / 4] = RAM_BASE + sim::RAM_PROGRAM;
    uc_mem_write(uc, FLASH_BASE, table.data(), sizeof table);
}

uint64_t run_host_service(uc_engine* uc, sim::Board& board, uint32_t entry) {
    using namespace host_cost;
    uint32_t result = 0;
    uint64_t cost = 0;
    switch (service_at(entry)) {
    case HOST_DELAY: board.host_delay(reg(uc, UC_MIPS_REG_A0)); break;
    case HOST_PIN_CONFIG:
        board.host_pin_config(arg(uc, UC_MIPS_REG_A0), arg(uc, UC_MIPS_REG_A1), arg(uc, UC_MIPS_REG_A2));
        cost = PIN_CONFIG_PS;
        break;
    case HOST_PIN_WRITE:
        board.host_pin_write(arg(uc, UC_MIPS_REG_A0), arg(uc, UC_MIPS_REG_A1));
        cost = PIN_WRITE_PS;
        break;
    case HOST_ALLOC: {
        const uint32_t size = reg(uc, UC_MIPS_REG_A0);
        result = RAM_BASE + board.host_alloc(size);
        cost = ALLOC_CALL_PS + size * ALLOC_PER_BYTE_PS;
        break;
    }
    case HOST_LOAD_PROGRAM:
        board.host_load_program(ram_offset(reg(uc, UC_MIPS_REG_A0), "host_load_program"),
                                arg(uc, UC_MIPS_REG_A1));
        cost = LOAD_CALL_PS + board.loaded_programs().back().size() * LOAD_PER_BYTE_PS;
        break;
    case HOST_PRINT: {
        const std::string text = read_text(uc, reg(uc, UC_MIPS_REG_A0));
        board.host_print(text);
        cost = PRINT_CALL_PS + text.size() * PRINT_PER_CHARACTER_PS;
        break;
    }
    case HOST_PREPARE_LOAD:
        board.host_prepare_load();
        cost = PREPARE_LOAD_PS;
        break;
    case HOST_LIST_LINE: {
        const uint32_t buffer = ram_offset(reg(uc, UC_MIPS_REG_A0), "host_list_line");
        result =
            RAM_BASE + board.host_list_line(buffer, ram_offset(reg(uc, UC_MIPS_REG_A1), "host_list_line"));
        uint32_t listed = 0;
        while (board.ram()[buffer + listed] != 0) {
            ++listed;
        }
        cost = LIST_LINE_PS + listed * LIST_PER_CHARACTER_PS;
        break;
    }
    default: throw EmuFault("call of " + hex(entry) + ", which is no host service");
    }
    uc_reg_write(uc, UC_MIPS_REG_V0, &result);
    return cost;
}

} // namespace emu
