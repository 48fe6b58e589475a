#include "e2e_bench.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "ram_layout.h"
#include "sdtypes.h"
#include "state_offsets.h"
#include "write_guard.h"

namespace e2e {

testsupport::VolumeSpec small_volume() {
    testsupport::VolumeSpec shape;
    shape.fat = 16;
    shape.sectors_per_cluster = 1;
    shape.size_kib = 4096;
    return shape;
}

Bench::Bench(const testsupport::VolumeSpec& shape)
    : volume_(dir_.file("card.img"), shape), cpu_(sdtest::make_cpu()) {}

void Bench::insert_card(sim::SdCardConfig config) {
    image_ = std::make_unique<sim::DiskImage>(sim::DiskImage::open_file(volume_.image().string()));
    card_ = std::make_unique<sim::SdCard>(*image_, config);
    card_->allow_writes({}); // until a file is opened
    testsupport::fail_on_refused_writes(*card_);
    board_.attach(card_.get(), testsupport::CARD_CS_PIN);
    board_.set_chip_select_option(testsupport::CARD_CS_PIN);
}

sim::Returned Bench::call(int32_t mode, std::vector<uint8_t> p1, int32_t p2, int32_t p3, int32_t p4) {
    board_.clear_logs();
    if (card_) {
        card_->clear_logs();
        if ((mode == MODE_OPEN || mode == MODE_SAVE) && !p1.empty() && !any_write_) {
            const size_t n = std::min<size_t>(p1[0], p1.size() - 1);
            testsupport::allow_writes_to(*card_, *image_, std::string(p1.begin() + 1, p1.begin() + 1 + n));
        }
    }
    sim::Returned r = sim::invoke(board_, *cpu_, {mode, std::move(p1), p2, p3, p4});
    if (card_) {
        for (const sim::CardViolation& v : card_->violations()) {
            if (v.kind == sim::Violation::WriteNotAllowed) {
                continue; // already failed the test when it happened
            }
            ADD_FAILURE() << "command " << mode << ": card protocol violation " << sim::violation_name(v.kind)
                          << ": " << v.detail;
        }
    }
    return r;
}

void Bench::allow_any_write() {
    any_write_ = true;
    card_->allow_all_writes();
}

sim::Returned Bench::open(const std::string& name) { return call(MODE_OPEN, sim::counted(name)); }

std::vector<uint8_t> Bench::read(int32_t pos, int32_t count, int32_t* got) {
    const sim::Returned r = call(MODE_READ, std::vector<uint8_t>(sim::RAM_P1_SIZE, 0), pos, count);
    if (got != nullptr) {
        *got = r.p4;
    }
    const size_t n = r.p4 > 0 ? static_cast<size_t>(r.p4) : 0;
    const size_t from = sim::data_start(count);
    return {r.p1.begin() + static_cast<std::ptrdiff_t>(from),
            r.p1.begin() + static_cast<std::ptrdiff_t>(from + n)};
}

int32_t Bench::write(int32_t pos, const std::vector<uint8_t>& data) {
    return call(MODE_WRITE, sim::data_arg(data), pos, static_cast<int32_t>(data.size())).p2;
}

int32_t Bench::append_pos() const {
    return static_cast<int32_t>(board_.ram_u32(sim::RAM_STATE + STATE_APPEND_POS));
}

std::vector<uint8_t> bytes(const std::string& text) { return {text.begin(), text.end()}; }

} // namespace e2e
