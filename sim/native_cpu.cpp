#include "native_cpu.h"

#include <array>
#include <cstdio>
#include <cstdlib>

#include "cfunctions.h"
#include "module_assert.h"
#include "sdcard.h"

namespace sim {
namespace {

Board* g_board = nullptr;

uint8_t* ram_ptr(uint32_t offset) { return g_board->ram() + offset; }

uint32_t ram_offset(const void* p) {
    return static_cast<uint32_t>(static_cast<const uint8_t*>(p) - g_board->ram());
}

extern "C" void svc_delay(uint32_t us) { g_board->host_delay(us); }
extern "C" void svc_pin_config(int32_t pin, int32_t code, int32_t arg) {
    g_board->host_pin_config(pin, code, arg);
}
extern "C" void svc_pin_write(int32_t pin, int32_t code) { g_board->host_pin_write(pin, code); }
extern "C" void* svc_alloc(uint32_t size) { return ram_ptr(g_board->host_alloc(size)); }
extern "C" void svc_load_program(uint8_t* text, int32_t arg) {
    g_board->host_load_program(ram_offset(text), arg);
}
extern "C" void svc_print(const char* message) { g_board->host_print(message); }
extern "C" void svc_prepare_load() { g_board->host_prepare_load(); }
extern "C" uint8_t* svc_list_line(char* buffer, uint8_t* line) {
    return ram_ptr(g_board->host_list_line(ram_offset(buffer), ram_offset(line)));
}

std::array<uintptr_t, HOST_TABLE_SIZE / 4> build_table() {
    std::array<uintptr_t, HOST_TABLE_SIZE / 4> t{};
    auto put = [&](uint32_t offset, uintptr_t value) { t[offset / 4] = value; };
    put(HOST_DELAY, reinterpret_cast<uintptr_t>(&svc_delay));
    put(HOST_PIN_CONFIG, reinterpret_cast<uintptr_t>(&svc_pin_config));
    put(HOST_PIN_WRITE, reinterpret_cast<uintptr_t>(&svc_pin_write));
    put(HOST_ALLOC, reinterpret_cast<uintptr_t>(&svc_alloc));
    put(HOST_PIN_STATES, reinterpret_cast<uintptr_t>(ram_ptr(RAM_PIN_STATES)));
    put(HOST_STATE_BLOCK, reinterpret_cast<uintptr_t>(ram_ptr(RAM_STATE)));
    put(HOST_OPTIONS, reinterpret_cast<uintptr_t>(ram_ptr(RAM_OPTIONS)));
    put(HOST_LOAD_PROGRAM, reinterpret_cast<uintptr_t>(&svc_load_program));
    put(HOST_PRINT, reinterpret_cast<uintptr_t>(&svc_print));
    put(HOST_PROGRAM_MEMORY, reinterpret_cast<uintptr_t>(ram_ptr(RAM_PROGRAM)));
    put(HOST_PREPARE_LOAD, reinterpret_cast<uintptr_t>(&svc_prepare_load));
    put(HOST_LIST_LINE, reinterpret_cast<uintptr_t>(&svc_list_line));
    return t;
}

std::array<uintptr_t, HOST_TABLE_SIZE / 4> g_table{};

} // namespace

BoardScope::BoardScope(Board& board) : previous_(g_board) {
    g_board = &board;
    g_table = build_table();
}

BoardScope::~BoardScope() {
    g_board = previous_;
    if (g_board != nullptr) {
        g_table = build_table();
    }
}

void NativeCpu::call_main(Board& board) {
    BoardScope scope(board);
    sdcard_main(reinterpret_cast<int32_t*>(ram_ptr(RAM_MODE)), ram_ptr(RAM_P1),
                reinterpret_cast<int32_t*>(ram_ptr(RAM_P2)), reinterpret_cast<int32_t*>(ram_ptr(RAM_P3)),
                reinterpret_cast<int32_t*>(ram_ptr(RAM_P4)));
}

} // namespace sim

// The module's side of the thin access layer, on the PC.
namespace {
sim::Board& bound_board() {
    if (sim::g_board == nullptr) {
        std::fprintf(stderr, "the module ran without a board bound to it\n");
        std::abort();
    }
    return *sim::g_board;
}
} // namespace

extern "C" uint32_t vboard_reg_read(uint32_t address) { return bound_board().reg_read(address); }

extern "C" void vboard_reg_write(uint32_t address, uint32_t value) {
    bound_board().reg_write(address, value);
}

extern "C" uintptr_t vboard_host_word(uint32_t offset) {
    bound_board();
    if (offset % 4 != 0 || offset >= HOST_TABLE_SIZE || sim::g_table[offset / 4] == 0) {
        std::fprintf(stderr, "module read host table entry 0x%X, which the host does not provide\n", offset);
        std::abort();
    }
    return sim::g_table[offset / 4];
}

extern "C" void module_assert_failed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: the module broke its rule: %s\n", file, line, condition);
    std::abort();
}
