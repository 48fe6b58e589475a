// The virtual board: the chip's SPI2, PPS and DEVID registers, the host
// interpreter behind its service table, and whatever sits on the card bus.
// One model serves both CPUs; the CPU layer turns its own pointers into RAM
// offsets before it calls in here.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "bus_device.h"
#include "ram_layout.h"

namespace sim {

constexpr uint32_t DEVID_28PIN = 0x06610053; // any identity but the two below
constexpr uint32_t DEVID_44PIN = 0x0661A053;
constexpr uint32_t DEVID_44PIN_ALT = 0x0660A053;

struct RegWrite {
    uint32_t address;
    uint32_t value;
};

struct PinCall {
    enum Kind { Config, Write } kind;
    int32_t pin;
    int32_t code;
    int32_t arg; // third argument of a config call
    bool operator==(const PinCall&) const = default;
};

struct BusByte {
    uint64_t time_ps; // virtual time at the start of the byte
    bool cs_high;     // level of the card's chip-select line
    uint8_t out;      // sent by the chip
    uint8_t in;       // received by the chip
    uint32_t brg;     // SPI2BRG during the byte
};

// A level change of the card's chip-select line, for traces.
struct CsEdge {
    uint64_t time_ps;
    bool high;
};

// SPI2 as a clocked peripheral. Without one the board completes every byte the
// moment it is written (the native build); a CPU that keeps time (the
// emulator) plugs its own in and moves the board's clock before each access.
class Spi2Timing {
  public:
    virtual ~Spi2Timing() = default;
    virtual uint32_t status() = 0;
    virtual uint8_t read_buffer() = 0;
    virtual void write_buffer(uint8_t out) = 0;
    virtual void clear_status(uint32_t value) = 0; // a write to SPI2STAT
    virtual void switched_off() = 0;               // SPI2CON ON cleared
};

struct AllocBlock {
    uint32_t offset; // in RAM
    uint32_t size;
};

struct CardPins {
    int32_t data_out, data_in, clock;
};

class Board {
  public:
    Board();

    // --- RAM shared with the CPU -------------------------------------------------
    uint8_t* ram() { return ram_.data(); }
    const uint8_t* ram() const { return ram_.data(); }
    uint32_t ram_u32(uint32_t offset) const;
    void set_ram_u32(uint32_t offset, uint32_t value);
    std::vector<uint8_t> ram_bytes(uint32_t offset, uint32_t count) const;
    void set_ram_bytes(uint32_t offset, const std::vector<uint8_t>& bytes);

    // --- chip registers ----------------------------------------------------------
    uint32_t reg_read(uint32_t address);
    void reg_write(uint32_t address, uint32_t value);
    void set_devid(uint32_t value) { devid_ = value; }
    uint32_t devid() const { return devid_; }
    uint32_t spi2con() const { return spi2con_; }
    uint32_t spi2con2() const { return spi2con2_; }
    uint32_t spi2brg() const { return spi2brg_; }
    uint32_t sdi2r() const { return sdi2r_; }
    uint32_t rpb13r() const { return rpb13r_; }
    void set_sdi2r(uint32_t v) { sdi2r_ = v; }
    void set_rpb13r(uint32_t v) { rpb13r_ = v; }
    const std::vector<RegWrite>& reg_writes() const { return reg_writes_; }
    // Accesses to addresses the board does not model.
    const std::vector<std::string>& faults() const { return faults_; }
    CardPins card_pins() const; // follows from the device identity

    // --- card bus ----------------------------------------------------------------
    void attach(BusDevice* device, int32_t cs_pin);
    const std::vector<BusByte>& bus() const { return bus_; }
    const std::vector<CsEdge>& cs_edges() const { return cs_edges_; }
    bool bus_connected() const; // pins, PPS and SPI2 set so that a card hears the bus
    // The peripheral bus clock that SPI2BRG divides.
    void set_bus_clock_hz(uint64_t hz) { bus_clock_hz_ = hz; }
    uint64_t bus_clock_hz() const { return bus_clock_hz_; }
    uint64_t byte_ps(uint32_t brg) const; // one byte on the bus at that SPI2BRG
    uint64_t now_ps() const { return now_ps_; }
    void advance_to(uint64_t ps) { now_ps_ = ps > now_ps_ ? ps : now_ps_; }
    void set_spi_timing(Spi2Timing* timing) { spi_timing_ = timing; }
    // One byte with the device, logged as starting at start_ps; the clock stays.
    uint8_t shift_byte(uint8_t out, uint64_t start_ps);

    // --- host services (offsets are into RAM) -------------------------------------
    void host_delay(uint32_t us);
    void host_pin_config(int32_t pin, int32_t code, int32_t arg);
    void host_pin_write(int32_t pin, int32_t code);
    uint32_t host_alloc(uint32_t size); // returns a RAM offset
    void host_load_program(uint32_t text, int32_t arg);
    void host_print(std::string_view message);
    void host_prepare_load();
    uint32_t host_list_line(uint32_t buffer, uint32_t line); // returns the next line's offset

    // --- host model, for tests and tools ---------------------------------------------
    const std::vector<PinCall>& pin_calls() const { return pin_calls_; }
    int32_t pin_state(int32_t pin) const;
    void set_pin_state(int32_t pin, int32_t value);
    bool pin_low(int32_t pin) const;
    const std::string& console() const { return console_; }
    const std::vector<std::string>& prints() const { return prints_; }
    const std::vector<AllocBlock>& allocs() const { return allocs_; }
    const std::vector<std::string>& loaded_programs() const { return loaded_; }
    int prepare_load_calls() const { return prepare_load_calls_; }
    uint64_t delay_us_total() const { return delay_us_total_; }
    uint32_t delay_calls() const { return delay_calls_; }
    // Stores lines as the host's program (each line: byte 1, text, 0; then a final 0).
    void set_program(const std::vector<std::string>& lines);
    std::vector<std::string> program_lines() const;
    int8_t chip_select_option() const;
    void set_chip_select_option(int8_t pin);

    // Called by the CPU layer around each call of the module: the host reclaims
    // its allocations once a command has returned.
    void begin_call();
    void clear_logs();

  private:
    uint8_t exchange(uint8_t out);
    uint32_t instant_status() const;

    std::vector<uint8_t> ram_;
    uint32_t spi2con_ = 0, spi2con2_ = 0, spi2brg_ = 0, sdi2r_ = 0, rpb13r_ = 0;
    uint32_t devid_ = 0x10000000 | DEVID_28PIN;
    // SPI2 of the native build: received bytes not yet read, the last one read.
    std::deque<uint8_t> rx_;
    uint8_t rx_last_ = 0;
    bool rov_ = false;
    std::vector<RegWrite> reg_writes_;
    std::vector<std::string> faults_;

    BusDevice* device_ = nullptr;
    int32_t device_cs_pin_ = -1;
    std::vector<BusByte> bus_;
    std::vector<CsEdge> cs_edges_;
    Spi2Timing* spi_timing_ = nullptr;
    uint64_t bus_clock_hz_ = 40'000'000;
    uint64_t now_ps_ = 0;

    std::vector<PinCall> pin_calls_;
    std::vector<int32_t> pin_level_;    // 1 high (also undriven: pulled up), 0 low
    std::vector<int32_t> pin_dir_code_; // last direction code (2 or 8) per pin
    std::vector<int32_t> pin_use_code_; // last use code (100 or 101) per pin
    std::string console_;
    std::vector<std::string> prints_;
    std::vector<AllocBlock> allocs_;
    uint32_t arena_next_ = RAM_ARENA;
    std::vector<std::string> loaded_;
    int prepare_load_calls_ = 0;
    uint64_t delay_us_total_ = 0;
    uint32_t delay_calls_ = 0;
};

} // namespace sim
