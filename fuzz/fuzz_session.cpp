#include "fuzz_session.h"
#include "card_pin.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

#include "cfunctions.h"
#include "fat_fs.h"
#include "ram_layout.h"
#include "sdtypes.h"
#include "state_offsets.h"
#include "volume_map.h"

namespace fuzz {

namespace {

constexpr uint32_t READDIR_ROOM = 18; // length byte, "<Dir>", twelve name bytes

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what.c_str());
    std::abort();
}

// The path a name command hands the file system: the counted string's bytes up to a NUL.
std::string path_of(const std::vector<uint8_t>& p1) {
    std::string path;
    for (size_t i = 1; i < p1.size() && i <= p1[0] && p1[i] != 0; i++) {
        path.push_back(static_cast<char>(p1[i]));
    }
    return path;
}

bool plain_char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

// An 8.3 path that every reading of the short-name rules resolves alike.
bool plain_path(const std::string& path) {
    size_t from = path.empty() || path[0] != '/' ? 0 : 1;
    if (from == path.size()) {
        return false;
    }
    while (from <= path.size()) {
        const size_t end = std::min(path.find('/', from), path.size());
        const std::string seg = path.substr(from, end - from);
        const size_t dot = seg.find('.');
        const size_t base = std::min(dot, seg.size());
        const size_t ext = dot == std::string::npos ? 0 : seg.size() - dot - 1;
        if (base == 0 || base > 8 || ext > 3 || (dot != std::string::npos && ext == 0) ||
            !std::all_of(seg.begin(), seg.end(), [](char c) { return plain_char(c) || c == '.'; }) ||
            std::count(seg.begin(), seg.end(), '.') > 1) {
            return false;
        }
        from = end + 1;
    }
    return true;
}

} // namespace

// Counts the bytes of each call and stops a call that runs past its budget.
class FuzzSession::BudgetedBus : public sim::BusDevice {
  public:
    BudgetedBus(sim::BusDevice& inner, uint64_t budget) : inner_(inner), budget_(budget) {}
    uint8_t exchange(uint8_t out, bool selected, uint64_t now_ps) override {
        if (++used_ > budget_) {
            fail("a call clocked more than " + std::to_string(budget_) + " bus bytes: a hang");
        }
        return inner_.exchange(out, selected, now_ps);
    }
    void restart() { used_ = 0; }

  private:
    sim::BusDevice& inner_;
    uint64_t budget_;
    uint64_t used_ = 0;
};

FuzzSession::FuzzSession(std::vector<uint8_t> image, sim::CardType type)
    : image_(sim::DiskImage::from_bytes(std::move(image))), card_(image_, [type] {
          sim::SdCardConfig config;
          config.type = type;
          return config;
      }()) {
    // A walk reads at most every directory entry of the image (16 a sector) a
    // few times over before a loop is caught, and a load 400 pieces; each
    // entry or piece costs at most a block on the bus.
    const uint64_t sectors = image_.sector_count();
    bus_ = std::make_unique<BudgetedBus>(card_, 600 * (64 * sectors + 1024));
    board_.attach(bus_.get(), testsupport::CARD_CS_PIN);
    board_.set_chip_select_option(testsupport::CARD_CS_PIN);
    if (const auto geo = testsupport::read_geometry(image_)) {
        system_end_ = geo->system_end();
    }
    card_.allow_writes({});
    card_.on_violation([this](const sim::CardViolation& v) {
        if (v.kind == sim::Violation::AddressBeyondCapacity) {
            return; // the image says the volume is larger than the card: a refused read
        }
        if (v.kind == sim::Violation::WriteNotAllowed && !card_.refused_writes().empty()) {
            const uint32_t s = card_.refused_writes().back().sector;
            if (s == 0 || s < system_end_) {
                fail("write into sector 0 or the system area: " + v.detail);
            }
        }
        fail(std::string(sim::violation_name(v.kind)) + ": " + v.detail);
    });
}

FuzzSession::~FuzzSession() = default;

// A name the short-name rules read in more than one way stands for any file.
std::set<uint32_t> FuzzSession::growing_writes(const std::string& path) const {
    const std::optional<testsupport::VolumeGeometry> geo = testsupport::read_geometry(image_);
    if (!geo) {
        return {};
    }
    std::set<uint32_t> may = testsupport::fat_sectors(*geo);
    const std::set<uint32_t> free = testsupport::free_sectors(image_);
    may.insert(free.begin(), free.end());
    const bool plain = plain_path(path);
    for (const std::set<uint32_t>& more :
         {plain ? testsupport::parent_directory_sectors(image_, path).value_or(std::set<uint32_t>{})
                : testsupport::all_directory_sectors(image_),
          plain ? testsupport::file_sectors(image_, path).value_or(std::set<uint32_t>{})
                : testsupport::all_file_sectors(image_)}) {
        may.insert(more.begin(), more.end());
    }
    return may;
}

bool FuzzSession::file_open() const {
    return (board_.ram_bytes(sim::RAM_STATE + STATE_FATFS + offsetof(FATFS, flag), 1)[0] & FLAG_OPEN) != 0;
}

void FuzzSession::allow_writes_for(int32_t mode, const std::vector<uint8_t>& p1) {
    std::set<uint32_t> may;
    if (mode == MODE_WRITE && file_open()) {
        may = plain_path(open_path_) ? testsupport::file_sectors(image_, open_path_).value_or(may)
                                     : testsupport::all_file_sectors(image_);
    } else if ((mode == MODE_SET_SIZE || mode == MODE_APPEND) && file_open()) {
        may = growing_writes(open_path_);
    } else if (mode == MODE_SAVE || mode == MODE_CREATE || mode == MODE_DELETE) {
        may = growing_writes(path_of(p1));
    }
    card_.allow_writes(std::move(may));
}

sim::Returned FuzzSession::call(const sim::Call& c) {
    board_.clear_logs();
    card_.clear_logs();
    bus_->restart();

    board_.set_ram_u32(sim::RAM_MODE, static_cast<uint32_t>(c.mode));
    board_.set_ram_u32(sim::RAM_P2, static_cast<uint32_t>(c.p2));
    board_.set_ram_u32(sim::RAM_P3, static_cast<uint32_t>(c.p3));
    board_.set_ram_u32(sim::RAM_P4, static_cast<uint32_t>(c.p4));
    board_.set_ram_bytes(sim::RAM_P1, c.p1);
    // The name as the module reads it: a length byte longer than the bytes
    // given takes the rest from what an earlier call left in host RAM.
    const std::vector<uint8_t> name = board_.ram_bytes(sim::RAM_P1, 256);
    allow_writes_for(c.mode, name);
    const std::vector<uint8_t> before = board_.ram_bytes(0, sim::RAM_SIZE);
    board_.begin_call();
    cpu_.call_main(board_);
    check_ram(c, before);
    if (c.mode == MODE_OPEN || c.mode == MODE_LOAD || c.mode == MODE_SAVE || c.mode == MODE_CREATE) {
        open_path_ = path_of(name); // what stays open after the call, if anything does
    }
    return {
        static_cast<int32_t>(board_.ram_u32(sim::RAM_MODE)),
        static_cast<int32_t>(board_.ram_u32(sim::RAM_P2)), static_cast<int32_t>(board_.ram_u32(sim::RAM_P3)),
        static_cast<int32_t>(board_.ram_u32(sim::RAM_P4)), board_.ram_bytes(sim::RAM_P1, sim::RAM_P1_SIZE)};
}

void FuzzSession::check_ram(const sim::Call& c, const std::vector<uint8_t>& before) const {
    uint32_t p1_room = 0;
    if (c.mode == MODE_READ) {
        p1_room = c.p3 < 0 ? 1 : static_cast<uint32_t>(c.p3 + static_cast<int32_t>(sim::data_start(c.p3)));
    } else if (c.mode == MODE_READDIR) {
        p1_room = READDIR_ROOM;
    } else if (c.mode == MODE_STATUS) {
        p1_room = 4; // the image's commands
    }
    auto allowed = [&](uint32_t at) {
        if (at < sim::RAM_P1 || (at - sim::RAM_P1 < p1_room)) {
            return true; // the argument words and the part of p1 the command fills
        }
        if (at - sim::RAM_STATE < sim::RAM_STATE_SIZE || at - sim::RAM_PIN_STATES < sim::PIN_COUNT * 4) {
            return true;
        }
        if (c.mode == MODE_SET_CS && at == sim::RAM_OPTIONS + __builtin_offsetof(option_s, SDCARD_CS)) {
            return true;
        }
        if (c.mode == MODE_LOAD && at - sim::RAM_PROGRAM < sim::RAM_PROGRAM_SIZE) {
            return true; // the host takes the loaded text as its program
        }
        return std::any_of(board_.allocs().begin(), board_.allocs().end(),
                           [at](const sim::AllocBlock& b) { return at - b.offset < b.size; });
    };
    const uint8_t* now = board_.ram();
    if (std::equal(before.begin(), before.end(), now)) {
        return;
    }
    for (uint32_t at = 0; at < sim::RAM_SIZE; at++) {
        if (now[at] != before[at] && !allowed(at)) {
            char where[96];
            std::snprintf(where, sizeof where, "command %d changed host RAM at 0x%04X (0x%02X -> 0x%02X)",
                          c.mode, at, before[at], now[at]);
            fail(where);
        }
    }
}

} // namespace fuzz
