#include "emu_cpu.h"

#include <unicorn/unicorn.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "cfunctions.h"
#include "chip_map.h"
#include "host_services.h"
#include "mips16e_block.h"
#include "ram_layout.h"
#include "sfr.h"
#include "status_reads.h"

namespace emu {
namespace {

// The o32 caller leaves 16 bytes for the register arguments, the fifth above them.
constexpr uint32_t ARG_AREA = 24;
constexpr uint32_t ENTRY_SP = RAM_BASE + sim::RAM_STACK_TOP - ARG_AREA;
constexpr uint32_t GARBAGE = 0xDEAD0000;

const char* const kRegNames[32] = {"zero", "at", "v0", "v1", "a0", "a1", "a2", "a3", "t0", "t1", "t2",
                                   "t3",   "t4", "t5", "t6", "t7", "s0", "s1", "s2", "s3", "s4", "s5",
                                   "s6",   "s7", "t8", "t9", "k0", "k1", "gp", "sp", "fp", "ra"};
// Registers main must hand back as it found them.
const int kPreserved[] = {16, 17, 18, 19, 20, 21, 22, 23, 28, 29, 30};

std::string hex(uint64_t v) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%08llX", static_cast<unsigned long long>(v));
    return text;
}

// "7 (SRMT), 28:24 (RXBUFELM)": the bits of SPI2STAT, named where they have a name.
std::string status_bits(uint32_t bits) {
    static const struct {
        uint32_t mask;
        const char* name;
    } kFields[] = {{SPI2STAT_SPIRBF, "0 (SPIRBF)"},        {SPI2STAT_SPITBF, "1 (SPITBF)"},
                   {SPI2STAT_SPITBE, "3 (SPITBE)"},        {SPI2STAT_SPIRBE, "5 (SPIRBE)"},
                   {SPI2STAT_SPIROV, "6 (SPIROV)"},        {SPI2STAT_SRMT, "7 (SRMT)"},
                   {SPI2STAT_SPIBUSY, "11 (SPIBUSY)"},     {SPI2STAT_TXBUFELM, "20:16 (TXBUFELM)"},
                   {SPI2STAT_RXBUFELM, "28:24 (RXBUFELM)"}};
    std::string text;
    for (const auto& field : kFields) {
        if (bits & field.mask) {
            text += (text.empty() ? "" : ", ") + std::string(field.name);
            bits &= ~field.mask;
        }
    }
    for (int bit = 0; bit < 32; ++bit) {
        if (bits & (1u << bit)) {
            text += (text.empty() ? "" : ", ") + std::to_string(bit);
        }
    }
    return text;
}

void check(uc_err err, const char* what) {
    if (err != UC_ERR_OK) {
        throw EmuFault(std::string("emulator set-up failed: ") + what + ": " + uc_strerror(err));
    }
}

uint32_t reg(uc_engine* uc, int id) {
    uint32_t value = 0;
    uc_reg_read(uc, id, &value);
    return value;
}

void set_reg(uc_engine* uc, int id, uint32_t value) { uc_reg_write(uc, id, &value); }

const char* access_name(uc_mem_type type) {
    switch (type) {
    case UC_MEM_READ:
    case UC_MEM_READ_PROT: return "read of";
    case UC_MEM_READ_UNMAPPED: return "read of unmapped address";
    case UC_MEM_WRITE: return "write to";
    case UC_MEM_WRITE_UNMAPPED: return "write to unmapped address";
    case UC_MEM_WRITE_PROT: return "write to read-only (flash)";
    case UC_MEM_FETCH_UNMAPPED: return "instruction fetch from unmapped address";
    case UC_MEM_FETCH_PROT: return "instruction fetch from";
    default: return "access to";
    }
}

} // namespace

struct EmuCpu::Hooks {
    // Only the trap page: the host's services.
    static void trap(uc_engine*, uint64_t address, uint32_t, void* user) {
        static_cast<EmuCpu*>(user)->host_code(static_cast<uint32_t>(address));
    }

    static void block(uc_engine*, uint64_t address, uint32_t size, void* user) {
        static_cast<EmuCpu*>(user)->enter_block(static_cast<uint32_t>(address), size);
    }

    // Addresses below KSEG0 alias physical memory in the engine; on the chip they do not.
    static void user_segment(uc_engine*, uc_mem_type type, uint64_t address, int, int64_t, void* user) {
        static_cast<EmuCpu*>(user)->fault(std::string(access_name(type)) + " " + hex(address) +
                                          ", outside the chip's KSEG0/KSEG1 memory");
    }

    static bool bad_access(uc_engine*, uc_mem_type type, uint64_t address, int size, int64_t, void* user) {
        static_cast<EmuCpu*>(user)->fault(std::string(access_name(type)) + " " + hex(address) + " (" +
                                          std::to_string(size) + " bytes)");
        return false;
    }

    static void exception(uc_engine*, uint32_t number, void* user) {
        static_cast<EmuCpu*>(user)->fault("CPU exception " + std::to_string(number) +
                                          " (address error, break or reserved instruction)");
    }

    static uint64_t sfr_read(uc_engine*, uint64_t offset, unsigned size, void* user) {
        auto& cpu = *static_cast<EmuCpu*>(user);
        const auto address = static_cast<uint32_t>(SFR_BASE + offset);
        if (!cpu.from_mips32_code(address, false)) {
            return 0;
        }
        if (size != 4) {
            cpu.fault(std::to_string(size) + "-byte read of SFR " + hex(address));
            return 0;
        }
        const Access* access = cpu.sync_board(address, false);
        if (address == SPI2STAT) {
            cpu.read_status(access);
        }
        return cpu.board_->reg_read(address);
    }

    static void sfr_write(uc_engine*, uint64_t offset, unsigned size, uint64_t value, void* user) {
        auto& cpu = *static_cast<EmuCpu*>(user);
        const auto address = static_cast<uint32_t>(SFR_BASE + offset);
        if (!cpu.from_mips32_code(address, true)) {
            return;
        }
        if (size != 4) {
            cpu.fault(std::to_string(size) + "-byte write of SFR " + hex(address));
            return;
        }
        cpu.sync_board(address, true);
        cpu.board_->reg_write(address, static_cast<uint32_t>(value));
    }
};

EmuCpu::EmuCpu(const std::vector<uint8_t>& image, uint32_t load_address, uint64_t runaway_ps,
               ClockSettings clock)
    : load_address_(load_address), image_size_(static_cast<uint32_t>(image.size())), runaway_ps_(runaway_ps),
      clock_(clock) {
    if (load_address % 4 != 0 || load_address < IMAGE_SPACE_BASE ||
        load_address + image.size() > FLASH_BASE + FLASH_SIZE) {
        throw EmuFault("an image of " + std::to_string(image.size()) + " bytes does not fit in flash at " +
                       hex(load_address));
    }
    check(uc_open(UC_ARCH_MIPS, static_cast<uc_mode>(UC_MODE_MIPS32 | UC_MODE_LITTLE_ENDIAN), &uc_), "open");
    check(uc_mem_map(uc_, FLASH_BASE, FLASH_SIZE, UC_PROT_READ | UC_PROT_EXEC), "flash");
    check(uc_mem_map(uc_, TRAP_BASE, TRAP_SIZE, UC_PROT_READ | UC_PROT_EXEC), "host code");
    check(uc_mmio_map(uc_, SFR_BASE, SFR_SIZE, &Hooks::sfr_read, this, &Hooks::sfr_write, this), "SFRs");
    install_host_table(uc_);
    check(uc_mem_write(uc_, load_address, image.data(), image.size()), "image");

    uc_hook hook;
    // Time and the stack are followed block by block: a hook on every
    // instruction would slow the engine down several times over.
    check(uc_hook_add(uc_, &hook, UC_HOOK_BLOCK, reinterpret_cast<void*>(&Hooks::block), this, 1, 0),
          "block hook");
    check(uc_hook_add(uc_, &hook, UC_HOOK_CODE, reinterpret_cast<void*>(&Hooks::trap), this, TRAP_BASE,
                      TRAP_BASE + TRAP_SIZE - 1),
          "trap hook");
    check(uc_hook_add(uc_, &hook, UC_HOOK_MEM_READ | UC_HOOK_MEM_WRITE,
                      reinterpret_cast<void*>(&Hooks::user_segment), this, 0, RAM_BASE - 1),
          "user segment hook");
    check(
        uc_hook_add(uc_, &hook, UC_HOOK_MEM_INVALID, reinterpret_cast<void*>(&Hooks::bad_access), this, 1, 0),
        "access hook");
    check(uc_hook_add(uc_, &hook, UC_HOOK_INTR, reinterpret_cast<void*>(&Hooks::exception), this, 1, 0),
          "exception hook");
}

EmuCpu::~EmuCpu() { uc_close(uc_); }

std::vector<uint8_t> EmuCpu::read_image(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw EmuFault("cannot read the chip image " + path);
    }
    return {std::istreambuf_iterator<char>(in), {}};
}

void EmuCpu::place_program_memory(uint32_t ram_offset) {
    const uint32_t address = RAM_BASE + ram_offset;
    check(uc_mem_write(uc_, FLASH_BASE + HOST_PROGRAM_MEMORY, &address, 4), "program memory entry");
}

std::string EmuCpu::name() const { return "emulator@" + hex(load_address_); }

void EmuCpu::bind(sim::Board& board) {
    if (board_ != &board || !spi_) {
        spi_ = std::make_unique<TimedSpi2>(board);
    }
    board_ = &board;
    board.set_bus_clock_hz(clock_.pbclk_hz());
    if (bound_ram_ == board.ram()) {
        return;
    }
    if (bound_ram_ != nullptr) {
        check(uc_mem_unmap(uc_, RAM_BASE, sim::RAM_SIZE), "unmap RAM");
    }
    check(uc_mem_map_ptr(uc_, RAM_BASE, sim::RAM_SIZE, UC_PROT_ALL, board.ram()), "RAM");
    bound_ram_ = board.ram();
}

// A load or store of a block of MIPS32 code.
struct EmuCpu::Access {
    uint32_t index; // of the instruction in the block (4 bytes each)
    int base;       // register
    int16_t offset;
    bool store;
    uint32_t examined; // a load: the bits of the word the code then examines
};

// What the clock, the stack watch and the status checks need to know of a block of code.
struct EmuCpu::BlockInfo {
    uint32_t address = 0;
    uint32_t size = 0; // bytes
    Isa isa = Isa::Mips32;
    uint32_t instructions = 0;
    int32_t stack_dip = 0; // the lowest it takes $sp, from entry
    BlockExit exit;
    std::vector<Access> accesses; // MIPS32 only: MIPS16e code makes no SFR access
    std::optional<PollLoop> poll; // the block is a loop polling the word it loads
};

uint64_t EmuCpu::time_at(uint64_t instructions) const {
    return host_ps_ + paused_ps_ + clock_.cycles_to_ps(instructions + clock_.flash_wait_states * blocks_);
}

uint64_t EmuCpu::now_ps() const { return time_at(executed_); }

// The CPU is at the start of an instruction that observes time: the pauses
// due by then are taken, and the board's clock follows.
void EmuCpu::observe(uint64_t instructions) {
    paused_ps_ += pauses_.catch_up(time_at(instructions), instructions - call_start_);
    board_->advance_to(time_at(instructions));
}

// The host's code: a service runs at its entry, once, and its `jr $ra`
// returns; the delay slot after it is no call.
void EmuCpu::host_code(uint32_t pc) {
    if (pc == RETURN_TRAP) {
        return;
    }
    if (pc == service_delay_slot_) {
        service_delay_slot_ = 0;
        return;
    }
    service_delay_slot_ = pc + 4;
    host_service(pc);
}

// A host service runs at the instruction that called it; its own time
// follows (host_costs.h), and a delay's pauses run on the core timer.
void EmuCpu::host_service(uint32_t entry) {
    observe(executed_);
    const uint64_t before = board_->now_ps();
    try {
        host_ps_ += run_host_service(uc_, *board_, entry);
    } catch (const EmuFault& e) {
        fault(e.what());
        return;
    }
    const uint64_t delay = board_->now_ps() - before; // only host_delay moves the board's clock
    host_ps_ += delay;
    paused_ps_ += pauses_.absorb_delay(before, delay);
}

// The instruction set of the block the CPU enters, followed as the CPU keeps
// it: the set changes only at a JALX or at a jump through a register, whose
// bit 0 names the next set, so the exit of the block before tells it exactly.
// The engine shows no instruction-set bit (its PC never has one), and a
// block's length does not always tell it: MIPS16e instructions that all take
// four bytes (EXTEND-prefixed, JAL) fill four bytes each as MIPS32 words do,
// and a MIPS32 block the engine cuts short (at a page boundary) may read as
// such instructions. The jump's register is read as the next block starts and
// must hold that block's address, which it does unless the jump's delay slot
// overwrote it: no compiler does that, and the emulator stops rather than
// guess. The engine's own count of the block's instructions then checks the
// set (block_info).
std::optional<Isa> EmuCpu::next_isa(uint32_t address) {
    switch (exit_.kind) {
    case BlockExit::Kind::Keep: return isa_;
    case BlockExit::Kind::Toggle: return isa_ == Isa::Mips32 ? Isa::Mips16e : Isa::Mips32;
    case BlockExit::Kind::Register: break;
    }
    const uint32_t target = reg(uc_, UC_MIPS_REG_0 + exit_.reg);
    if ((target & ~1u) != address) {
        fault("cannot tell the instruction set of the code at " + hex(address) +
              ": the jump to it went through $" + kRegNames[exit_.reg] + ", which now holds " + hex(target));
        return std::nullopt;
    }
    return (target & 1) != 0 ? Isa::Mips16e : Isa::Mips32;
}

void EmuCpu::enter_block(uint32_t address, uint32_t size) {
    const std::optional<Isa> isa = next_isa(address);
    if (!isa) {
        return;
    }
    isa_ = *isa;
    if (address >= TRAP_BASE && address < TRAP_BASE + TRAP_SIZE) {
        // The host's code, not the module's: 32-bit, returning through $ra.
        if (isa_ != Isa::Mips32) {
            fault("call of the host's code at " + hex(address) +
                  " in MIPS16e mode (a jump through an odd address)");
        }
        exit_ = {BlockExit::Kind::Register, 31};
        return;
    }
    if (address < RAM_BASE) {
        fault("jump to " + hex(address) + ", outside the chip's KSEG0/KSEG1 memory");
        return;
    }
    block_ = block_info(address, size, isa_);
    if (block_ == nullptr) {
        return;
    }
    exit_ = block_->exit;
    next_access_ = 0;
    block_start_ = executed_;
    executed_ += block_->instructions;
    ++blocks_;
    // Every block moves the clock on, so this ends any loop.
    if (now_ps() - call_start_ps_ > runaway_ps_) {
        char limit[32];
        std::snprintf(limit, sizeof limit, "%g s", static_cast<double>(runaway_ps_) * 1e-12);
        fault(std::string("runaway: more than ") + limit + " of chip time in one call");
        return;
    }
    if (block_->stack_dip < 0) {
        lowest_sp_ =
            std::min(lowest_sp_, reg(uc_, UC_MIPS_REG_SP) + static_cast<uint32_t>(block_->stack_dip));
    }
}

// Decoded once per block, in its instruction set; the engine's own count of
// its instructions (it decodes them to run them) must agree with the
// decoding. The module changes $sp only by immediates (no frame is larger
// than one reaches), so those alone give its stack depth.
const EmuCpu::BlockInfo* EmuCpu::block_info(uint32_t address, uint32_t size, Isa isa) {
    auto& known = blocks_seen_[address | (isa == Isa::Mips16e ? 1 : 0)];
    if (known && known->size == size) {
        return known.get();
    }
    const char* const set = isa == Isa::Mips16e ? "MIPS16e" : "MIPS32";
    uc_tb tb{};
    std::vector<uint8_t> code(size);
    if (uc_ctl_request_cache(uc_, address, &tb) != UC_ERR_OK || static_cast<uint32_t>(tb.pc) != address ||
        tb.size != size || uc_mem_read(uc_, address, code.data(), size) != UC_ERR_OK) {
        fault("the engine cannot show the " + std::string(set) + " block of " + std::to_string(size) +
              " bytes at " + hex(address));
        return nullptr;
    }
    auto block = std::make_unique<BlockInfo>();
    block->address = address;
    block->size = size;
    block->isa = isa;
    block->instructions = tb.icount;
    if (!(isa == Isa::Mips32 ? read_mips32(*block, code) : read_mips16e(*block, code))) {
        fault("the block at " + hex(address) + " does not read as the " + std::to_string(tb.icount) + " " +
              set + " instructions in " + std::to_string(size) + " bytes the engine ran");
        return nullptr;
    }
    known = std::move(block);
    return known.get();
}

bool EmuCpu::read_mips32(BlockInfo& block, const std::vector<uint8_t>& code) {
    if (code.size() != 4 * block.instructions) {
        return false;
    }
    std::vector<uint32_t> words(code.size() / 4);
    std::memcpy(words.data(), code.data(), code.size());
    int32_t sp = 0;
    for (uint32_t i = 0; i < words.size(); ++i) {
        const uint32_t w = words[i];
        const uint32_t opcode = w >> 26;
        if ((w >> 16) == 0x27BD) { // addiu $sp, $sp, imm
            sp += static_cast<int16_t>(w & 0xFFFF);
            block.stack_dip = std::min(block.stack_dip, sp);
        }
        const bool load = (opcode >= 0x20 && opcode <= 0x26) || opcode == 0x30;
        const bool store = (opcode >= 0x28 && opcode <= 0x2B) || opcode == 0x2E || opcode == 0x38;
        if (load || store) {
            block.accesses.push_back({i, static_cast<int>((w >> 21) & 31), static_cast<int16_t>(w & 0xFFFF),
                                      store, load ? examined_bits(words, i) : 0});
        }
    }
    block.exit = mips32_exit(words);
    block.poll = PollLoop::recognise(words);
    return true;
}

bool EmuCpu::read_mips16e(BlockInfo& block, const std::vector<uint8_t>& code) {
    std::vector<uint16_t> halfwords(code.size() / 2);
    std::memcpy(halfwords.data(), code.data(), halfwords.size() * 2);
    const std::optional<Mips16eBlock> read = code.size() % 2 == 0 ? decode_mips16e(halfwords) : std::nullopt;
    if (!read || read->instructions != block.instructions) {
        return false;
    }
    block.stack_dip = read->stack_dip;
    block.exit = read->exit;
    return true;
}

// The status checks and the poll skipping read MIPS32 code, so the module
// keeps every SFR access in 32-bit functions; one from MIPS16e code would
// escape them, and the call stops.
bool EmuCpu::from_mips32_code(uint32_t address, bool store) {
    if (block_ == nullptr || block_->isa == Isa::Mips32) {
        return true;
    }
    fault(std::string(store ? "write to" : "read of") + " SFR " + hex(address) +
          " from MIPS16e code (the block at " + code_address(0) +
          "): SFR accesses belong in 32-bit code, where the emulator checks the status bits read and "
          "follows polling loops");
    return false;
}

// A read of SPI2STAT: the bits the code goes on to examine must be ones the
// datasheet calls valid in the buffer mode in force; a plain store of the
// whole word examines none.
void EmuCpu::read_status(const Access* access) {
    const uint32_t invalid = access != nullptr ? access->examined & spi_->invalid_status_bits() : 0;
    if (invalid != 0) {
        fault("read of SPI2STAT bit(s) " + status_bits(invalid) + " at " + code_address(4 * access->index) +
              ", which the datasheet calls invalid in " +
              ((board_->spi2con() & SPI2CON_ENHBUF) ? "enhanced" : "standard") + " buffer mode");
        return;
    }
    if (access != nullptr && block_->poll && access->index == block_->poll->load()) {
        skip_idle_polls(access->examined);
    }
}

// A loop that polls SPI2STAT for a bit that cannot change before the next
// byte completes would read the same status every turn until then: the clock
// moves on by the turns it would make, and the read happens at the first turn
// that can see the change, or the first that a pause holds. The instruction
// count and the time are the same as running every turn; only the engine's
// work is saved. With nothing shifting and nothing queued the status can
// never change (a pause only stops the CPU), so the loop would never end:
// that is a hang, stopped at once.
void EmuCpu::skip_idle_polls(uint32_t examined) {
    const uint64_t turn_instructions = block_->instructions;
    const uint32_t load = block_->poll->load(); // every turn reads at this instruction
    const uint64_t turn_ps = clock_.cycles_to_ps(turn_instructions + clock_.flash_wait_states);
    for (;;) {
        const uint32_t status = spi_->status();
        if (!block_->poll->continues(status)) {
            return;
        }
        const uint64_t change = spi_->next_change_ps();
        if (change == 0) {
            fault("hang: polling SPI2STAT at " + code_address(0) + " for bit(s) " + status_bits(examined) +
                  " that can never change: nothing is shifting or queued (SPI2STAT " + hex(status) +
                  ((status & SPI2STAT_SPIROV) ? ", SPIROV set" : "") + ")");
            return;
        }
        const uint64_t now = board_->now_ps();
        if (change <= now) {
            return;
        }
        // Turns until the change, the next interrupt or the test's pause.
        const uint64_t until = std::min(change, pauses_.next_due_ps());
        uint64_t turns = until > now ? (until - now + turn_ps - 1) / turn_ps : 1;
        if (const auto shot = pauses_.one_shot_instruction()) {
            const uint64_t at = block_start_ + load - call_start_;
            turns = std::min(turns, (*shot - at + turn_instructions - 1) / turn_instructions);
        }
        turns = std::max<uint64_t>(turns, 1);
        executed_ += turn_instructions * turns;
        block_start_ += turn_instructions * turns;
        blocks_ += turns;
        observe(block_start_ + load);
    }
}

// Unicorn keeps the PC at the start of the block while it runs one, so the
// instruction behind a register access is found among the block's loads and
// stores instead: the first one not yet passed whose base register and
// offset give the address accessed (registers are current during the access).
const EmuCpu::Access* EmuCpu::find_access(uint32_t address, bool store) {
    if (block_ == nullptr) {
        return nullptr;
    }
    const auto& accesses = block_->accesses;
    for (size_t k = next_access_; k < accesses.size(); ++k) {
        const auto& a = accesses[k];
        if (a.store == store &&
            reg(uc_, UC_MIPS_REG_0 + a.base) + static_cast<uint32_t>(static_cast<int32_t>(a.offset)) ==
                address) {
            next_access_ = k + 1;
            return &a;
        }
    }
    return nullptr;
}

// The board's clock follows the CPU's before each register access, so SPI2
// sees the moment the instruction runs.
const EmuCpu::Access* EmuCpu::sync_board(uint32_t address, bool store) {
    const Access* access = find_access(address, store);
    const uint64_t at = block_start_ + (access != nullptr ? access->index : 0);
    observe(at);
    if (record_sfr_) {
        sfr_log_.push_back({at - call_start_, address, store});
    }
    return access;
}

std::string EmuCpu::code_address(uint32_t byte_offset) const {
    const uint32_t pc = (block_ != nullptr ? block_->address : 0) + byte_offset;
    std::string text = hex(pc);
    if (pc >= load_address_ && pc - load_address_ < image_size_) {
        text += " (image offset " + hex(pc - load_address_) + ")";
    }
    return text;
}

void EmuCpu::fault(const std::string& what) {
    if (fault_.empty()) {
        fault_ = what;
    }
    uc_emu_stop(uc_);
}

std::string EmuCpu::register_dump() {
    const uint32_t pc = reg(uc_, UC_MIPS_REG_PC);
    std::string text = "pc " + hex(pc);
    if (pc >= load_address_ && pc - load_address_ < image_size_) {
        text += " (image offset " + hex(pc - load_address_) + ")";
    }
    if (isa_ == Isa::Mips16e) {
        text += " in MIPS16e code";
    }
    for (int i = 0; i < 32; ++i) {
        char cell[24];
        std::snprintf(cell, sizeof cell, "%s%-4s %08X", i % 4 == 0 ? "\n  " : "  ", kRegNames[i],
                      reg(uc_, UC_MIPS_REG_0 + i));
        text += cell;
    }
    return text;
}

void EmuCpu::call_main(sim::Board& board) {
    bind(board);
    for (int i = 1; i < 32; ++i) {
        set_reg(uc_, UC_MIPS_REG_0 + i, GARBAGE + static_cast<uint32_t>(i));
    }
    set_reg(uc_, UC_MIPS_REG_A0, RAM_BASE + sim::RAM_MODE);
    set_reg(uc_, UC_MIPS_REG_A1, RAM_BASE + sim::RAM_P1);
    set_reg(uc_, UC_MIPS_REG_A2, RAM_BASE + sim::RAM_P2);
    set_reg(uc_, UC_MIPS_REG_A3, RAM_BASE + sim::RAM_P3);
    board.set_ram_u32(ENTRY_SP - RAM_BASE + 16, RAM_BASE + sim::RAM_P4);
    set_reg(uc_, UC_MIPS_REG_SP, ENTRY_SP);
    set_reg(uc_, UC_MIPS_REG_RA, RETURN_TRAP);
    set_reg(uc_, UC_MIPS_REG_T9, load_address_);
    uint32_t preserved[std::size(kPreserved)];
    for (size_t i = 0; i < std::size(kPreserved); ++i) {
        preserved[i] = reg(uc_, UC_MIPS_REG_0 + kPreserved[i]);
    }

    last_ = {};
    lowest_sp_ = ENTRY_SP;
    fault_.clear();
    call_start_ = executed_;
    block_ = nullptr;
    isa_ = Isa::Mips32; // main's
    exit_ = {};
    service_delay_slot_ = 0;
    sfr_log_.clear();
    pauses_.begin_call();
    const uint64_t started_ps = now_ps();
    const uint64_t paused_before = paused_ps_;
    call_start_ps_ = started_ps;
    // The board runs SPI2 on this CPU's clock for the call, and on its own again after it.
    struct TimingScope {
        sim::Board& board;
        ~TimingScope() { board.set_spi_timing(nullptr); }
    } timing{board};
    board.set_spi_timing(spi_.get());
    const uc_err err = uc_emu_start(uc_, load_address_, RETURN_TRAP, 0, 0);
    observe(executed_); // the return, held by any pause due before it
    last_.instructions = executed_ - call_start_;
    last_.time_ps = now_ps() - started_ps;
    last_.paused_ps = paused_ps_ - paused_before;
    const uint32_t pc = reg(uc_, UC_MIPS_REG_PC);
    if (fault_.empty() && err != UC_ERR_OK) {
        fault_ = uc_strerror(err);
    }
    if (fault_.empty() && pc != RETURN_TRAP) {
        fault_ = "the emulation stopped before main returned";
    }
    for (size_t i = 0; fault_.empty() && i < std::size(kPreserved); ++i) {
        if (reg(uc_, UC_MIPS_REG_0 + kPreserved[i]) != preserved[i]) {
            fault_ = std::string("main returned with $") + kRegNames[kPreserved[i]] + " changed";
        }
    }
    last_.stack_bytes = ENTRY_SP - lowest_sp_;
    stack_peak_ = std::max(stack_peak_, last_.stack_bytes);
    if (fault_.empty() && lowest_sp_ < RAM_BASE + sim::RAM_STACK_LIMIT) {
        fault_ = "the stack grew into the host's memory (" + std::to_string(last_.stack_bytes) + " bytes)";
    }
    if (!fault_.empty()) {
        throw EmuFault(name() + ": " + fault_ + " after " + std::to_string(last_.instructions) +
                       " instructions\n" + register_dump());
    }
}

} // namespace emu
