#include "board.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "cfunctions.h"
#include "sfr.h"

namespace sim {

namespace {

constexpr uint64_t kPicosecondsPerSecond = 1'000'000'000'000ull;

std::string hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", v);
    return text;
}

bool valid_pin(int32_t pin) { return pin >= 0 && pin < static_cast<int32_t>(PIN_COUNT); }

} // namespace

Board::Board()
    : ram_(RAM_SIZE, 0), pin_level_(PIN_COUNT, 1), pin_dir_code_(PIN_COUNT, 0), pin_use_code_(PIN_COUNT, 0) {
    set_program({});
}

uint32_t Board::ram_u32(uint32_t offset) const {
    uint32_t v;
    std::memcpy(&v, &ram_.at(offset + 3) - 3, 4);
    return v;
}

void Board::set_ram_u32(uint32_t offset, uint32_t value) { std::memcpy(&ram_.at(offset + 3) - 3, &value, 4); }

std::vector<uint8_t> Board::ram_bytes(uint32_t offset, uint32_t count) const {
    return {ram_.begin() + offset, ram_.begin() + offset + count};
}

void Board::set_ram_bytes(uint32_t offset, const std::vector<uint8_t>& bytes) {
    if (offset + bytes.size() > ram_.size()) {
        faults_.push_back("RAM write past the end at offset " + hex(offset));
        return;
    }
    std::copy(bytes.begin(), bytes.end(), ram_.begin() + offset);
}

// ---------------------------------------------------------------- registers

CardPins Board::card_pins() const {
    const uint32_t identity = devid_ & 0x0FFFFFFF;
    if (identity == DEVID_44PIN || identity == DEVID_44PIN_ALT) {
        return {11, 23, 15};
    }
    return {24, 6, 26};
}

uint32_t Board::reg_read(uint32_t address) {
    switch (address) {
    case SPI2CON: return spi2con_;
    case SPI2CON2: return spi2con2_;
    case SPI2BRG: return spi2brg_;
    case SPI2STAT:
        if (spi_timing_ != nullptr) {
            return spi_timing_->status();
        }
        return instant_status();
    case SPI2BUF: {
        if (spi_timing_ != nullptr) {
            return spi_timing_->read_buffer();
        }
        if (!rx_.empty()) {
            rx_last_ = rx_.front();
            rx_.pop_front();
        }
        return rx_last_;
    }
    case DEVID: return devid_;
    case SDI2R: return sdi2r_;
    case RPB13R: return rpb13r_;
    default: faults_.push_back("read of unmodelled register " + hex(address)); return 0;
    }
}

void Board::reg_write(uint32_t address, uint32_t value) {
    reg_writes_.push_back({address, value});
    switch (address) {
    case SPI2CON:
        spi2con_ = value;
        if (!(value & SPI2CON_ON)) {
            // Switched off, SPI2 empties its buffers.
            rx_.clear();
            rov_ = false;
            if (spi_timing_ != nullptr) {
                spi_timing_->switched_off();
            }
        }
        break;
    case SPI2CON2: spi2con2_ = value; break;
    case SPI2BRG: spi2brg_ = value & 0x1FFF; break;
    case SPI2STAT:
        if (spi_timing_ != nullptr) {
            spi_timing_->clear_status(value);
        }
        rov_ = rov_ && (value & SPI2STAT_SPIROV) != 0;
        break;
    case SPI2BUF:
        // SPI2 exchanges only while it is switched on as bus master.
        if (!(spi2con_ & SPI2CON_ON) || !(spi2con_ & SPI2CON_MSTEN)) {
            break;
        }
        if (spi_timing_ != nullptr) {
            spi_timing_->write_buffer(static_cast<uint8_t>(value));
        } else {
            // Bytes complete at once. With the enhanced buffer the receive FIFO
            // holds 16 of them. In standard buffer mode a byte sent while the last
            // one received is still unread is the chip's byte waiting in the
            // transmit buffer: it is read after that one, as if the program
            // always took each byte in time. Past that a byte is lost, as the
            // chip's overflow would lose it.
            const uint8_t in = exchange(static_cast<uint8_t>(value));
            const size_t room = (spi2con_ & SPI2CON_ENHBUF) ? SPI2_FIFO_BYTES : 2;
            if (rx_.size() < room) {
                rx_.push_back(in);
            } else {
                rov_ = true;
            }
        }
        break;
    case DEVID: faults_.push_back("write to the read-only DEVID register"); break;
    case SDI2R: sdi2r_ = value; break;
    case RPB13R: rpb13r_ = value; break;
    default: faults_.push_back("write of unmodelled register " + hex(address)); break;
    }
}

// Exchanges complete at once, so the shift register and the transmit buffer
// always read empty.
uint32_t Board::instant_status() const {
    uint32_t s = SPI2STAT_SPITBE | SPI2STAT_SRMT | (rov_ ? SPI2STAT_SPIROV : 0);
    if (spi2con_ & SPI2CON_ENHBUF) {
        s |= rx_.empty() ? SPI2STAT_SPIRBE : 0;
        s |= rx_.size() == SPI2_FIFO_BYTES ? SPI2STAT_SPIRBF : 0;
        s |= static_cast<uint32_t>(rx_.size()) << 24;
    } else {
        s |= rx_.empty() ? 0 : SPI2STAT_SPIRBF;
    }
    return s;
}

// ---------------------------------------------------------------- card bus

void Board::attach(BusDevice* device, int32_t cs_pin) {
    device_ = device;
    device_cs_pin_ = cs_pin;
}

bool Board::bus_connected() const {
    if (!(spi2con_ & SPI2CON_ON) || !(spi2con_ & SPI2CON_MSTEN)) {
        return false;
    }
    if ((sdi2r_ & 0xF) != 4 || (rpb13r_ & 0xF) != 4) {
        return false;
    }
    const CardPins pins = card_pins();
    if (pin_state(pins.data_out) == PIN_CODE_CHIP_SELECT) {
        return true; // the host reports the card-bus pins as already set up
    }
    auto configured = [&](int32_t pin, int32_t direction) {
        return pin_dir_code_[pin] == direction && pin_use_code_[pin] == PIN_CODE_BUS;
    };
    return configured(pins.data_out, PIN_CODE_OUTPUT) && configured(pins.data_in, PIN_CODE_INPUT) &&
           configured(pins.clock, PIN_CODE_OUTPUT);
}

uint64_t Board::byte_ps(uint32_t brg) const {
    const uint64_t clocks = 8ull * 2ull * (brg + 1ull);
    return clocks * kPicosecondsPerSecond / bus_clock_hz_;
}

uint8_t Board::shift_byte(uint8_t out, uint64_t start_ps) {
    const bool cs_high = !(valid_pin(device_cs_pin_) && pin_level_[device_cs_pin_] == 0);
    uint8_t in = 0xFF;
    if (device_ != nullptr && bus_connected()) {
        in = device_->exchange(out, !cs_high, start_ps);
    }
    bus_.push_back({start_ps, cs_high, out, in, spi2brg_});
    return in;
}

uint8_t Board::exchange(uint8_t out) {
    const uint8_t in = shift_byte(out, now_ps_);
    now_ps_ += byte_ps(spi2brg_);
    return in;
}

// ---------------------------------------------------------------- host services

void Board::host_delay(uint32_t us) {
    ++delay_calls_;
    delay_us_total_ += us;
    now_ps_ += static_cast<uint64_t>(us) * 1'000'000ull;
}

void Board::host_pin_config(int32_t pin, int32_t code, int32_t arg) {
    pin_calls_.push_back({PinCall::Config, pin, code, arg});
    if (!valid_pin(pin)) {
        return;
    }
    if (code == PIN_CODE_INPUT || code == PIN_CODE_OUTPUT) {
        pin_dir_code_[pin] = code;
    } else if (code == PIN_CODE_BUS || code == PIN_CODE_CHIP_SELECT) {
        pin_use_code_[pin] = code;
        set_pin_state(pin, code);
    }
}

void Board::host_pin_write(int32_t pin, int32_t code) {
    pin_calls_.push_back({PinCall::Write, pin, code, 0});
    if (!valid_pin(pin)) {
        return;
    }
    const int32_t before = pin_level_[pin];
    if (code == PIN_DRIVE_LOW) {
        pin_level_[pin] = 0;
    } else if (code == PIN_DRIVE_HIGH) {
        pin_level_[pin] = 1;
    }
    if (pin == device_cs_pin_ && pin_level_[pin] != before) {
        cs_edges_.push_back({now_ps_, pin_level_[pin] == 1});
    }
}

uint32_t Board::host_alloc(uint32_t size) {
    const uint32_t rounded = (size + 7u) & ~7u;
    if (rounded < size || arena_next_ + rounded > RAM_ARENA + RAM_ARENA_SIZE) {
        faults_.push_back("host_alloc(" + std::to_string(size) + ") does not fit the host's memory");
        return RAM_ARENA;
    }
    const uint32_t offset = arena_next_;
    arena_next_ += rounded;
    allocs_.push_back({offset, size});
    return offset;
}

void Board::host_load_program(uint32_t text, int32_t /*arg*/) {
    std::string captured;
    for (uint32_t i = text; i < RAM_SIZE && ram_[i] != 0; ++i) {
        captured.push_back(static_cast<char>(ram_[i]));
    }
    loaded_.push_back(captured);
    // Like the interpreter, take the text as the program: one line per CR LF.
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = 0; i < captured.size(); ++i) {
        if (captured[i] == '\r' && i + 1 < captured.size() && captured[i + 1] == '\n') {
            lines.push_back(line);
            line.clear();
            ++i;
        } else {
            line.push_back(captured[i]);
        }
    }
    if (!line.empty()) {
        lines.push_back(line);
    }
    set_program(lines);
}

void Board::host_print(std::string_view message) {
    console_.append(message);
    prints_.emplace_back(message);
}

void Board::host_prepare_load() { ++prepare_load_calls_; }

uint32_t Board::host_list_line(uint32_t buffer, uint32_t line) {
    uint32_t from = line + 1; // past the line-start byte
    uint32_t n = 0;
    while (from + n < RAM_SIZE && ram_[from + n] != 0 && n < 254) {
        ram_.at(buffer + n) = ram_[from + n];
        ++n;
    }
    ram_.at(buffer + n) = 0;
    uint32_t next = from + n;
    while (next < RAM_SIZE && ram_[next] != 0) {
        ++next; // text past 254 characters is not listed
    }
    return next + 1;
}

// ---------------------------------------------------------------- host model

int32_t Board::pin_state(int32_t pin) const {
    return valid_pin(pin) ? static_cast<int32_t>(ram_u32(RAM_PIN_STATES + 4u * pin)) : 0;
}

void Board::set_pin_state(int32_t pin, int32_t value) {
    if (valid_pin(pin)) {
        set_ram_u32(RAM_PIN_STATES + 4u * pin, static_cast<uint32_t>(value));
    }
}

bool Board::pin_low(int32_t pin) const { return valid_pin(pin) && pin_level_[pin] == 0; }

void Board::set_program(const std::vector<std::string>& lines) {
    uint32_t at = RAM_PROGRAM;
    const uint32_t end = RAM_PROGRAM + RAM_PROGRAM_SIZE - 1; // room for the final 0
    for (const std::string& line : lines) {
        if (at + line.size() + 2 > end) {
            faults_.push_back("program does not fit the host's program memory");
            break;
        }
        ram_[at++] = 1;
        std::memcpy(&ram_[at], line.data(), line.size());
        at += static_cast<uint32_t>(line.size());
        ram_[at++] = 0;
    }
    ram_[at] = 0;
}

std::vector<std::string> Board::program_lines() const {
    std::vector<std::string> lines;
    uint32_t at = RAM_PROGRAM;
    while (at < RAM_PROGRAM + RAM_PROGRAM_SIZE && ram_[at] == 1) {
        std::string line;
        ++at;
        while (ram_[at] != 0) {
            line.push_back(static_cast<char>(ram_[at++]));
        }
        ++at;
        lines.push_back(line);
    }
    return lines;
}

int8_t Board::chip_select_option() const {
    return static_cast<int8_t>(ram_[RAM_OPTIONS + __builtin_offsetof(option_s, SDCARD_CS)]);
}

void Board::set_chip_select_option(int8_t pin) {
    ram_[RAM_OPTIONS + __builtin_offsetof(option_s, SDCARD_CS)] = static_cast<uint8_t>(pin);
}

void Board::begin_call() { arena_next_ = RAM_ARENA; }

void Board::clear_logs() {
    reg_writes_.clear();
    bus_.clear();
    cs_edges_.clear();
    pin_calls_.clear();
    console_.clear();
    prints_.clear();
    allocs_.clear();
    loaded_.clear();
    prepare_load_calls_ = 0;
    delay_calls_ = 0;
    delay_us_total_ = 0;
}

} // namespace sim
