// A virtual SD or MMC card on the SPI bus, byte by byte, after the SPI mode of
// the SD Physical Layer Simplified Specification. It is strict on purpose: what
// a real card would refuse or misread, it refuses too and writes down, so tests
// can tell a driver that merely works on this model from one that follows the
// protocol.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "bus_device.h"
#include "card_timing.h"
#include "disk_image.h"

namespace sim {

enum class CardType {
    Mmc,      // MMC: no CMD8, no CMD55/ACMD41; started with CMD1; byte addresses
    Sd1,      // SD version 1: no CMD8; byte addresses
    Sd2Byte,  // SD version 2 standard capacity: byte addresses
    Sd2Block, // SD version 2 high capacity: block addresses, CCS set in the OCR
};

// What the sector being programmed holds when the power goes before the card
// has finished storing it; real flash may have erased it, cleared it, or
// programmed only part of it.
enum class TornWrite {
    Old,    // still the old content (the model's ideal card)
    Erased, // every byte 0xFF
    Zeros,  // every byte 0x00
    Mixed,  // the new bytes as far as programming got, 0xFF after them
};

// One bit of one byte arrives inverted. Bytes are counted from 1, as the card
// sees them, like power_cut_after.
struct BitFlip {
    uint64_t byte;
    uint8_t bit; // 0 to 7
};

struct SdCardFaults {
    bool never_ready = false;     // ACMD41 and CMD1 answer idle forever
    bool refuse_cmd55 = false;    // CMD55 answered as an illegal command
    bool corrupt_r7_echo = false; // the R7 check pattern comes back changed
    bool refuse_voltage = false;  // R7 reports the host's voltage as not supported
    uint8_t read_token = 0xFE;    // e.g. 0x01: an error token instead of the data
    uint8_t data_response = 0xE5; // e.g. 0x0B CRC error, 0x0D write error
    bool busy_forever = false;    // a write never completes
    uint64_t power_cut_after = 0; // bytes the card lives through; 0: no cut

    // What a cut while a block is being programmed leaves in its sector.
    TornWrite torn_write = TornWrite::Old;
    // Bits flipped on data-in, on their way to the chip.
    std::vector<BitFlip> glitches;
    // Bits flipped on data-out, on their way to the card: the card acts on
    // the byte as it arrives.
    std::vector<BitFlip> glitches_out;
};

struct SdCardConfig {
    CardType type = CardType::Sd2Block;
    uint32_t response_delay = 1; // 0xFF bytes before every R1 (1 to 8 on real cards)
    // Without a timing the card counts its delays in bytes clocked, so that a
    // test sees the same bus bytes on any clock.
    uint32_t read_gap = 2;      // 0xFF bytes between R1 and the data token of a read
    uint32_t busy_bytes = 4;    // bytes the card holds data-in low after accepting a block
    uint32_t idle_attempts = 1; // ACMD41/CMD1 attempts after CMD0 that still answer idle
    // With one, read access, write busy and start-up run on the board's clock
    // in place of the three counts above.
    std::optional<CardTiming> timing;
    // False: a very old MMC card that answers CMD59 as an illegal command and
    // never checks a CRC but CMD0's.
    bool knows_crc_option = true;
    SdCardFaults faults;
};

enum class Violation {
    EarlySelect,           // selected before 74 clocks with chip select high
    CommandBeforeReset,    // anything but CMD0 before the card entered SPI mode
    BadCrc,                // a wrong CRC where the card checks it: CMD0 entering SPI mode and
                           // CMD8 always, every frame and written block once CMD59 turned checks on
    MissingEndBit,         // a frame whose last byte has bit 0 clear
    NotInitialised,        // a data command while the card is still idle
    BadBlockLength,        // CMD16 with anything but 512
    MissingHcs,            // ACMD41/CMD1 without HCS to a high-capacity card
    UnalignedAddress,      // a byte address that is not a multiple of 512
    AddressBeyondCapacity, // a sector beyond the image
    UnsupportedCommand,    // a command this model has no behaviour for
    StrayByte,             // a byte that is neither 0xFF nor a frame start
    CommandWhileAnswering, // a frame started before the last answer was read
    TokenWithoutGap,       // the write token right after R1, no byte between
    DataBeforeToken,       // anything but 0xFF or the token before write data
    CommandWhileBusy,      // bytes other than 0xFF while the card programs
    DeselectedInTransfer,  // chip select raised in the middle of a data block
    WriteNotAllowed,       // a block for a sector outside the test's write allow-list
};

const char* violation_name(Violation v);

struct CardCommand {
    uint8_t index; // 0..63
    uint32_t arg;
    uint8_t crc;                   // last frame byte as sent
    bool app;                      // came right after an accepted CMD55
    std::vector<uint8_t> response; // R1 and any trailing bytes; empty when unanswered
};

struct CardViolation {
    Violation kind;
    std::string detail;
};

// A block the card accepted on the bus but did not store: its sector was not
// on the write allow-list. `bus_byte` counts every byte the card had seen.
struct RefusedWrite {
    uint32_t sector;
    uint64_t bus_byte;
};

class SdCard : public BusDevice {
  public:
    explicit SdCard(DiskImage& image, SdCardConfig config = {});

    uint8_t exchange(uint8_t out, bool selected, uint64_t now_ps) override;

    const SdCardConfig& config() const { return config_; }
    SdCardConfig& config() { return config_; } // faults may be switched between steps
    const std::vector<CardCommand>& commands() const { return commands_; }
    const std::vector<CardViolation>& violations() const { return violations_; }
    bool violated(Violation kind) const;
    const std::vector<uint8_t>& data_responses() const { return data_responses_; }
    const std::vector<uint32_t>& reads() const { return reads_; } // sectors sent
    bool in_spi_mode() const { return state_ == State::Idle || state_ == State::Ready; }
    bool ready() const { return state_ == State::Ready; }
    bool powered() const { return !power_cut(); }
    uint64_t bytes_seen() const { return bytes_seen_; }
    // The bus byte at which a configured fault first changed what the card
    // did; 0 while none has.
    uint64_t fault_fired_at() const { return fired_at_; }
    void clear_logs();

    // From now on only these sectors may be stored; a block for any other
    // sector is answered as accepted, left out of the image, logged in
    // refused_writes() and noted as Violation::WriteNotAllowed.
    void allow_writes(std::set<uint32_t> sectors) { allowed_ = std::move(sectors); }
    void allow_all_writes() { allowed_.reset(); }
    const std::vector<RefusedWrite>& refused_writes() const { return refused_; }
    // Called with every violation as it is noted, so a test can fail at the
    // very byte (e.g. with ADD_FAILURE) instead of at its end.
    void on_violation(std::function<void(const CardViolation&)> hook) { hook_ = std::move(hook); }

  private:
    enum class State { PoweringUp, Native, Idle, Ready };
    enum class Stage { Command, WriteToken, WriteData, Busy };

    bool power_cut() const;
    uint8_t drive(uint8_t out, bool selected);
    void fired();
    uint8_t glitched(uint8_t byte, const std::vector<BitFlip>& flips); // as it arrives
    void tear_block(uint64_t at_ps);
    void keep_block(const std::vector<uint8_t>& data); // stores it unless the allow-list refuses
    void on_deselected();
    void take_command_byte(uint8_t out, bool answering);
    void take_write_token(uint8_t out, bool answering);
    void take_write_data(uint8_t out);
    void release_read();
    uint8_t busy_byte(uint8_t out);
    // What moves a card on that is programming a block.
    enum class BusyEvent {
        Clock,        // a byte starts on the bus at a later time
        ResponseRead, // its data response was read or thrown away
        ByteGone,     // it let a byte go by
    };
    void busy_tick(BusyEvent event, uint64_t at_ps);
    void run_command();
    std::vector<uint8_t> answer(uint8_t index, uint32_t arg, bool app, bool crc_ok);
    std::vector<uint8_t> start_up(uint32_t arg);
    bool check_address(uint32_t arg, uint32_t& sector, uint8_t& r1);
    uint8_t r1_status() const { return state_ == State::Idle ? 0x01 : 0x00; }
    void queue_read(uint32_t sector);
    void store_block();
    void note(Violation kind, std::string detail);
    bool high_capacity() const { return config_.type == CardType::Sd2Block; }
    bool is_sd() const { return config_.type != CardType::Mmc; }
    bool timed() const { return config_.timing.has_value(); }

    DiskImage& image_;
    SdCardConfig config_;

    uint64_t bytes_seen_ = 0;
    uint64_t now_ps_ = 0;  // start of the byte on the bus
    uint64_t last_ps_ = 0; // start of the byte before it
    uint64_t fired_at_ = 0;
    bool lost_power_ = false;
    uint32_t clocks_high_ = 0;
    bool was_selected_ = false;
    State state_ = State::PoweringUp;
    Stage stage_ = Stage::Command;
    bool app_next_ = false;
    bool crc_on_ = false;
    uint32_t attempts_ = 0;
    uint64_t start_up_from_ps_ = 0;

    std::deque<uint8_t> out_;
    uint32_t read_left_ = 0; // bytes of a read data block still to be clocked
    bool read_pending_ = false;
    uint32_t pending_sector_ = 0;
    std::deque<uint8_t> later_; // a read's token and block, sent once its access time is over
    uint64_t later_at_ps_ = 0;
    std::vector<uint8_t> frame_;
    std::vector<uint8_t> block_; // data and CRC of the block being written
    uint32_t write_sector_ = 0;
    uint32_t gap_bytes_ = 0;
    uint32_t busy_left_ = 0;
    uint64_t busy_from_ps_ = 0;
    uint64_t busy_until_ps_ = 0;
    uint64_t blocks_accepted_ = 0;

    std::vector<CardCommand> commands_;
    std::vector<CardViolation> violations_;
    std::vector<uint8_t> data_responses_;
    std::vector<uint32_t> reads_;
    std::optional<std::set<uint32_t>> allowed_;
    std::vector<RefusedWrite> refused_;
    std::function<void(const CardViolation&)> hook_;
};

} // namespace sim
