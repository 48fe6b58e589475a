#include "sd_card.h"

#include <algorithm>
#include <cstdio>

#include "sd_crc.h"

namespace sim {

namespace {

constexpr uint8_t R1_IDLE = 0x01;
constexpr uint8_t R1_ILLEGAL = 0x04;
constexpr uint8_t R1_CRC_ERROR = 0x08;
constexpr uint8_t R1_ADDRESS_ERROR = 0x20;
constexpr uint8_t R1_PARAMETER_ERROR = 0x40;
constexpr uint32_t OCR_HCS = 0x40000000;
constexpr uint8_t DATA_TOKEN = 0xFE;
constexpr uint8_t DATA_ACCEPTED = 0x05;
constexpr uint8_t DATA_CRC_ERROR = 0x0B;
constexpr size_t BLOCK_WITH_CRC = SECTOR_SIZE + 2;
constexpr uint32_t POWER_UP_CLOCKS = 74;

std::string hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", v);
    return text;
}

std::string name_of(uint8_t index, bool app) { return (app ? "ACMD" : "CMD") + std::to_string(index); }

} // namespace

const char* violation_name(Violation v) {
    switch (v) {
    case Violation::EarlySelect: return "selected before 74 clocks with chip select high";
    case Violation::CommandBeforeReset: return "command before CMD0";
    case Violation::BadCrc: return "bad CRC";
    case Violation::MissingEndBit: return "frame without end bit";
    case Violation::NotInitialised: return "data command while idle";
    case Violation::BadBlockLength: return "unsupported block length";
    case Violation::MissingHcs: return "start-up without HCS on a high-capacity card";
    case Violation::UnalignedAddress: return "unaligned byte address";
    case Violation::AddressBeyondCapacity: return "address beyond capacity";
    case Violation::UnsupportedCommand: return "unsupported command";
    case Violation::StrayByte: return "stray byte outside a frame";
    case Violation::CommandWhileAnswering: return "command while the card was answering";
    case Violation::TokenWithoutGap: return "write token without a gap byte";
    case Violation::DataBeforeToken: return "data before the write token";
    case Violation::CommandWhileBusy: return "traffic while the card was busy";
    case Violation::DeselectedInTransfer: return "deselected in the middle of a transfer";
    case Violation::WriteNotAllowed: return "write to a sector outside the allow-list";
    }
    return "?";
}

SdCard::SdCard(DiskImage& image, SdCardConfig config) : image_(image), config_(config) {}

bool SdCard::violated(Violation kind) const {
    for (const CardViolation& v : violations_) {
        if (v.kind == kind) {
            return true;
        }
    }
    return false;
}

void SdCard::clear_logs() {
    commands_.clear();
    violations_.clear();
    data_responses_.clear();
    reads_.clear();
    refused_.clear();
}

bool SdCard::power_cut() const {
    return config_.faults.power_cut_after != 0 && bytes_seen_ > config_.faults.power_cut_after;
}

void SdCard::note(Violation kind, std::string detail) {
    violations_.push_back({kind, std::move(detail)});
    if (hook_) {
        hook_(violations_.back());
    }
}

void SdCard::fired() {
    if (fired_at_ == 0) {
        fired_at_ = bytes_seen_;
    }
}

uint8_t SdCard::glitched(uint8_t byte, const std::vector<BitFlip>& flips) {
    for (const BitFlip& flip : flips) {
        if (flip.byte == bytes_seen_) {
            byte = static_cast<uint8_t>(byte ^ (1u << (flip.bit & 7)));
            fired();
        }
    }
    return byte;
}

uint8_t SdCard::exchange(uint8_t out, bool selected, uint64_t now_ps) {
    ++bytes_seen_;
    last_ps_ = now_ps_;
    now_ps_ = now_ps;
    const uint8_t in = drive(glitched(out, config_.faults.glitches_out), selected);
    return glitched(in, config_.faults.glitches);
}

uint8_t SdCard::drive(uint8_t out, bool selected) {
    if (power_cut()) {
        if (!lost_power_) {
            lost_power_ = true;
            fired();
            // The power goes as the last byte the card lived through ends.
            busy_tick(BusyEvent::Clock, last_ps_);
            if (stage_ == Stage::Busy) {
                tear_block(last_ps_);
            }
        }
        return 0xFF;
    }
    busy_tick(BusyEvent::Clock, now_ps_);

    if (!selected) {
        if (was_selected_) {
            on_deselected();
        }
        was_selected_ = false;
        if (state_ == State::PoweringUp) {
            clocks_high_ += 8;
            if (clocks_high_ >= POWER_UP_CLOCKS) {
                state_ = State::Native;
            }
        }
        busy_tick(BusyEvent::ByteGone, now_ps_); // programming goes on whether or not the card is selected
        return 0xFF;
    }

    if (!was_selected_ && state_ == State::PoweringUp) {
        note(Violation::EarlySelect, "after " + std::to_string(clocks_high_) + " clocks");
    }
    was_selected_ = true;
    if (state_ == State::PoweringUp) {
        return 0xFF;
    }
    if (stage_ == Stage::Busy) {
        return busy_byte(out);
    }

    release_read();
    const bool answering = !out_.empty() || !later_.empty();
    uint8_t in = 0xFF;
    if (!out_.empty()) {
        in = out_.front();
        out_.pop_front();
        if (read_left_ > 0) {
            --read_left_;
        }
    }
    switch (stage_) {
    case Stage::Command: take_command_byte(out, answering); break;
    case Stage::WriteToken: take_write_token(out, answering); break;
    case Stage::WriteData: take_write_data(out); break;
    case Stage::Busy: break;
    }
    return in;
}

void SdCard::on_deselected() {
    if (!frame_.empty()) {
        note(Violation::DeselectedInTransfer,
             "command frame cut after " + std::to_string(frame_.size()) + " bytes");
        frame_.clear();
    }
    if (read_left_ > 0) {
        note(Violation::DeselectedInTransfer,
             "read block with " + std::to_string(read_left_) + " bytes not clocked");
        read_left_ = 0;
    }
    later_.clear(); // a driver may give up on a read before its token

    if (stage_ == Stage::WriteToken || stage_ == Stage::WriteData) {
        note(Violation::DeselectedInTransfer, "write block of sector " + std::to_string(write_sector_) +
                                                  " after " + std::to_string(block_.size()) + " bytes");
        stage_ = Stage::Command;
    }
    if (stage_ == Stage::Busy && !out_.empty()) {
        note(Violation::DeselectedInTransfer, "data response not read");
        out_.clear();
        busy_tick(BusyEvent::ResponseRead, now_ps_);
    }
    out_.clear();
}

void SdCard::take_command_byte(uint8_t out, bool answering) {
    if (!frame_.empty()) {
        frame_.push_back(out);
        if (frame_.size() == 6) {
            run_command();
        }
        return;
    }
    if (out == 0xFF) {
        return;
    }
    if ((out & 0xC0) != 0x40) {
        note(Violation::StrayByte, hex(out));
        return;
    }
    if (answering) {
        note(Violation::CommandWhileAnswering, hex(out));
        out_.clear();
        later_.clear();
        read_left_ = 0;
    }
    frame_.push_back(out);
}

void SdCard::run_command() {
    const uint8_t index = frame_[0] & 0x3F;
    const uint32_t arg =
        (uint32_t{frame_[1]} << 24) | (uint32_t{frame_[2]} << 16) | (uint32_t{frame_[3]} << 8) | frame_[4];
    const uint8_t crc = frame_[5];
    const bool crc_ok = crc == sd_frame_crc_byte(frame_.data());
    const bool app = app_next_;
    app_next_ = false;
    frame_.clear();
    if ((crc & 1) == 0) {
        note(Violation::MissingEndBit, name_of(index, app));
    }

    read_pending_ = false;
    std::vector<uint8_t> response = answer(index, arg, app, crc_ok);
    commands_.push_back({index, arg, crc, app, response});
    if (response.empty()) {
        return;
    }
    for (uint32_t i = 0; i < config_.response_delay; ++i) {
        out_.push_back(0xFF);
    }
    out_.insert(out_.end(), response.begin(), response.end());
    if (read_pending_) {
        queue_read(pending_sector_);
    }
}

std::vector<uint8_t> SdCard::answer(uint8_t index, uint32_t arg, bool app, bool crc_ok) {
    if (state_ == State::Native) {
        // Before SPI mode the card listens for CMD0 alone, and checks its CRC.
        if (index != 0) {
            note(Violation::CommandBeforeReset, name_of(index, app));
            return {};
        }
        if (!crc_ok) {
            note(Violation::BadCrc, "CMD0");
            return {};
        }
        state_ = State::Idle;
        attempts_ = 0;
        return {R1_IDLE};
    }

    const uint8_t r1 = r1_status();
    if (crc_on_ && !crc_ok) {
        // Refused unseen: the frame may not be the command that was sent.
        note(Violation::BadCrc, name_of(index, app) + " argument " + hex(arg));
        return {static_cast<uint8_t>(r1 | R1_CRC_ERROR)};
    }
    if (app && index != 41) {
        note(Violation::UnsupportedCommand, name_of(index, app));
        return {static_cast<uint8_t>(r1 | R1_ILLEGAL)};
    }
    switch (index) {
    case 0:
        state_ = State::Idle;
        attempts_ = 0;
        return {R1_IDLE};
    case 1: return start_up(arg);
    case 8: {
        if (config_.type != CardType::Sd2Byte && config_.type != CardType::Sd2Block) {
            return {static_cast<uint8_t>(r1 | R1_ILLEGAL)};
        }
        if (!crc_ok) {
            note(Violation::BadCrc, "CMD8 argument " + hex(arg));
            return {static_cast<uint8_t>(r1 | R1_CRC_ERROR)};
        }
        const bool supported = ((arg >> 8) & 0xF) == 1 && !config_.faults.refuse_voltage;
        const uint8_t voltage = supported ? 0x01 : 0x00;
        uint8_t pattern = static_cast<uint8_t>(arg);
        if (config_.faults.corrupt_r7_echo) {
            pattern = static_cast<uint8_t>(pattern ^ 0xFF);
        }
        if (config_.faults.corrupt_r7_echo || config_.faults.refuse_voltage) {
            fired();
        }
        return {r1, 0x00, 0x00, voltage, pattern};
    }
    case 16:
        if (state_ == State::Idle) {
            note(Violation::NotInitialised, "CMD16");
            return {static_cast<uint8_t>(r1 | R1_ILLEGAL)};
        }
        if (arg != SECTOR_SIZE) {
            note(Violation::BadBlockLength, std::to_string(arg));
            return {R1_PARAMETER_ERROR};
        }
        return {r1};
    case 17:
    case 24: {
        if (state_ == State::Idle) {
            note(Violation::NotInitialised, name_of(index, app));
            return {static_cast<uint8_t>(r1 | R1_ILLEGAL)};
        }
        uint32_t sector = 0;
        uint8_t error = 0;
        if (!check_address(arg, sector, error)) {
            return {error};
        }
        if (index == 17) {
            read_pending_ = true;
            pending_sector_ = sector;
        } else {
            stage_ = Stage::WriteToken;
            write_sector_ = sector;
            gap_bytes_ = 0;
            block_.clear();
        }
        return {r1};
    }
    case 41:
        if (!app) {
            note(Violation::UnsupportedCommand, "CMD41 without CMD55");
            return {static_cast<uint8_t>(r1 | R1_ILLEGAL)};
        }
        return start_up(arg);
    case 55:
        if (is_sd() && config_.faults.refuse_cmd55) {
            fired();
        }
        if (!is_sd() || config_.faults.refuse_cmd55) {
            return {static_cast<uint8_t>(r1 | R1_ILLEGAL)};
        }
        app_next_ = true;
        return {r1};
    case 58: {
        uint8_t ocr0 = 0x00;
        if (state_ == State::Ready) {
            ocr0 = static_cast<uint8_t>(0x80 | (high_capacity() ? 0x40 : 0x00));
        }
        return {r1, ocr0, 0xFF, 0x80, 0x00};
    }
    case 59:
        // The setting lasts until the power goes; CMD0 leaves it.
        if (!config_.knows_crc_option) {
            return {static_cast<uint8_t>(r1 | R1_ILLEGAL)};
        }
        crc_on_ = (arg & 1) != 0;
        return {r1};
    default:
        note(Violation::UnsupportedCommand, name_of(index, app));
        return {static_cast<uint8_t>(r1 | R1_ILLEGAL)};
    }
}

std::vector<uint8_t> SdCard::start_up(uint32_t arg) {
    if (++attempts_ == 1) {
        start_up_from_ps_ = now_ps_;
    }
    if (state_ == State::Ready) {
        return {0x00};
    }
    if (high_capacity() && (arg & OCR_HCS) == 0) {
        // A high-capacity card stays idle for a host that does not support it.
        note(Violation::MissingHcs, hex(arg));
        return {R1_IDLE};
    }
    if (config_.faults.never_ready) {
        fired();
    }
    const bool starting = timed() ? now_ps_ - start_up_from_ps_ < config_.timing->start_up_ps
                                  : attempts_ <= config_.idle_attempts;
    if (config_.faults.never_ready || starting) {
        return {R1_IDLE};
    }
    state_ = State::Ready;
    return {0x00};
}

bool SdCard::check_address(uint32_t arg, uint32_t& sector, uint8_t& r1) {
    if (high_capacity()) {
        sector = arg;
    } else {
        if (arg % SECTOR_SIZE != 0) {
            note(Violation::UnalignedAddress, hex(arg));
            r1 = R1_ADDRESS_ERROR;
            return false;
        }
        sector = arg / SECTOR_SIZE;
    }
    if (sector >= image_.sector_count()) {
        note(Violation::AddressBeyondCapacity,
             "sector " + std::to_string(sector) + " of " + std::to_string(image_.sector_count()));
        r1 = R1_PARAMETER_ERROR;
        return false;
    }
    return true;
}

void SdCard::queue_read(uint32_t sector) {
    reads_.push_back(sector);
    std::deque<uint8_t> sent;
    if (config_.faults.read_token != DATA_TOKEN) {
        fired();
        sent.push_back(config_.faults.read_token);
    } else {
        const std::vector<uint8_t> data = image_.read_sector(sector);
        const uint16_t crc = sd_crc16(data.data(), data.size());
        sent.push_back(DATA_TOKEN);
        sent.insert(sent.end(), data.begin(), data.end());
        sent.push_back(static_cast<uint8_t>(crc >> 8));
        sent.push_back(static_cast<uint8_t>(crc));
    }
    if (timed()) {
        later_ = std::move(sent);
        later_at_ps_ = now_ps_ + config_.timing->read_access_ps;
        return;
    }
    out_.insert(out_.end(), config_.read_gap, 0xFF);
    out_.insert(out_.end(), sent.begin(), sent.end());
    if (sent.size() > 1) {
        read_left_ = static_cast<uint32_t>(out_.size());
    }
}

// The token goes out on the first byte after the R1 once the access time is over.
void SdCard::release_read() {
    if (!out_.empty() || later_.empty() || now_ps_ < later_at_ps_) {
        return;
    }
    out_.swap(later_);
    later_.clear();
    if (out_.size() > 1) {
        read_left_ = static_cast<uint32_t>(out_.size());
    }
}

void SdCard::take_write_token(uint8_t out, bool answering) {
    if (answering) {
        if (out != 0xFF) {
            note(Violation::DataBeforeToken, hex(out) + " while R1 was still coming");
        }
        return;
    }
    if (out == 0xFF) {
        ++gap_bytes_;
        return;
    }
    if (out == DATA_TOKEN) {
        if (gap_bytes_ == 0) {
            note(Violation::TokenWithoutGap, "sector " + std::to_string(write_sector_));
        }
        stage_ = Stage::WriteData;
        return;
    }
    note(Violation::DataBeforeToken, hex(out));
}

void SdCard::take_write_data(uint8_t out) {
    block_.push_back(out);
    if (block_.size() < BLOCK_WITH_CRC) {
        return;
    }
    const uint16_t crc = sd_crc16(block_.data(), SECTOR_SIZE);
    const bool crc_ok =
        !crc_on_ || (block_[SECTOR_SIZE] == (crc >> 8) && block_[SECTOR_SIZE + 1] == (crc & 0xFF));
    if (!crc_ok) {
        note(Violation::BadCrc, "block for sector " + std::to_string(write_sector_));
    }
    const uint8_t response = crc_ok ? config_.faults.data_response : DATA_CRC_ERROR;
    data_responses_.push_back(response);
    out_.push_back(response);
    if ((response & 0x1F) != DATA_ACCEPTED) {
        if (crc_ok) {
            fired();
        }
        stage_ = Stage::Command;
        return;
    }
    stage_ = Stage::Busy;
    busy_left_ = config_.busy_bytes;
    ++blocks_accepted_;
    if (timed()) {
        const CardTiming& t = *config_.timing;
        const bool stalls = t.stall_every != 0 && blocks_accepted_ % t.stall_every == 0;
        busy_from_ps_ = now_ps_;
        busy_until_ps_ = now_ps_ + (stalls ? t.stall_ps : t.write_busy_ps);
    }
}

// A real card ignores what it receives while it programs.
uint8_t SdCard::busy_byte(uint8_t out) {
    if (out != 0xFF) {
        note(Violation::CommandWhileBusy, hex(out));
    }
    if (!out_.empty()) {
        const uint8_t response = out_.front();
        out_.pop_front();
        busy_tick(BusyEvent::ResponseRead, now_ps_);
        return response;
    }
    busy_tick(BusyEvent::ByteGone, now_ps_);
    return 0x00;
}

// On the clock, programming ends at its time whatever is clocked meanwhile,
// and every event looks at the time. Counted in bytes, only the bytes the card
// lets go by after its data response count, and it ends once none are left
// and the response has been read; the response read while bytes are left
// moves nothing.
void SdCard::busy_tick(BusyEvent event, uint64_t at_ps) {
    if (stage_ != Stage::Busy) {
        return;
    }
    if (!timed() && (event == BusyEvent::Clock || (event == BusyEvent::ResponseRead && busy_left_ > 0))) {
        return;
    }
    if (config_.faults.busy_forever) {
        fired();
        return;
    }
    if (!timed() && event == BusyEvent::ByteGone && busy_left_ > 0) {
        --busy_left_;
    }
    const bool over = timed() ? at_ps >= busy_until_ps_ : busy_left_ == 0 && out_.empty();
    if (over) {
        store_block();
        stage_ = Stage::Command;
    }
}

void SdCard::tear_block(uint64_t at_ps) {
    std::vector<uint8_t> torn(SECTOR_SIZE, 0xFF);
    switch (config_.faults.torn_write) {
    case TornWrite::Old: return;
    case TornWrite::Erased: break;
    case TornWrite::Zeros: torn.assign(SECTOR_SIZE, 0x00); break;
    case TornWrite::Mixed: {
        // Programming moves on with busy time, or with every busy byte when
        // counted in bytes; the block is stored at its end.
        uint64_t total = config_.busy_bytes == 0 ? 1 : config_.busy_bytes;
        uint64_t done = total - std::min<uint64_t>(busy_left_, total);
        if (timed()) {
            total = std::max<uint64_t>(busy_until_ps_ - busy_from_ps_, 1);
            done = std::min(at_ps > busy_from_ps_ ? at_ps - busy_from_ps_ : 0, total);
        }
        std::copy(block_.begin(), block_.begin() + static_cast<std::ptrdiff_t>(SECTOR_SIZE * done / total),
                  torn.begin());
        break;
    }
    }
    keep_block(torn);
}

void SdCard::store_block() { keep_block({block_.begin(), block_.begin() + SECTOR_SIZE}); }

void SdCard::keep_block(const std::vector<uint8_t>& data) {
    if (allowed_ && allowed_->count(write_sector_) == 0) {
        refused_.push_back({write_sector_, bytes_seen_});
        note(Violation::WriteNotAllowed,
             "sector " + std::to_string(write_sector_) + " at bus byte " + std::to_string(bytes_seen_));
        return;
    }
    image_.write_sector(write_sector_, data);
}

} // namespace sim
