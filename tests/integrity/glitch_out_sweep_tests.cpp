// Single bits flipped on their way to the card, one at a time, over every byte
// the card receives during a write and during a read: command frames, data
// token, block and CRC, and the idle bytes between. The card checks CRCs, so
// a flip ends in a refused frame or block and a disk error, or changes
// nothing; no flip may move a write to another sector or hand out another
// sector's bytes as if nothing had happened, and every call returns.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>

#include "integrity_rig.h"
#include "sdtypes.h"

namespace {

using integrity::Rig;
using testsupport::pattern;

constexpr int32_t WRITE_AT = 1000; // inside the file's second sector
constexpr int32_t READ_AT = 3000;

struct Case {
    int fat;
    sim::CardType card;
    bool write; // a 10-byte write at WRITE_AT, else a 100-byte read at READ_AT
};

std::string name_of(const Case& c) {
    return "Fat" + std::to_string(c.fat) + (c.card == sim::CardType::Sd2Block ? "Sdhc" : "ByteAddressed") +
           (c.write ? "Write" : "Read");
}

class GlitchOut : public ::testing::TestWithParam<Case> {};

TEST_P(GlitchOut, EveryBitOfEveryByteTheCardReceives) {
    const Case c = GetParam();
    testsupport::ScratchDir dir;
    testsupport::Volume vol(dir.file("card.img"), integrity::volume_shape(c.fat));
    const std::vector<uint8_t> target = pattern(8192, 1);
    vol.put("/TARGET.BIN", target);
    vol.put("/OTHER.BIN", pattern(3000, 3));
    const std::vector<uint8_t> base = vol.bytes();
    const std::vector<uint8_t> data = pattern(10, 9);
    Rig rig(base);
    sim::SdCardConfig config;
    config.type = c.card;

    // One run, with `flip` (0: none) on the card's side of the bus; the bus
    // bytes of the command alone are counted from `first`.
    uint64_t first = 0;
    std::vector<uint8_t> got;
    auto run = [&](uint64_t flip_byte, uint8_t bit) {
        rig.restore(base);
        rig.power_up(config);
        rig.open("TARGET.BIN");
        first = rig.card->bytes_seen();
        if (flip_byte != 0) {
            rig.card->config().faults.glitches_out = {{first + flip_byte, bit}};
        }
        if (c.write) {
            rig.write(WRITE_AT, data);
        } else {
            got = rig.read_raw(READ_AT, 300);
            got.resize(100 < got.size() ? 100 : got.size());
        }
    };

    run(0, 0);
    ASSERT_EQ(rig.board.console(), "");
    const uint64_t bytes = rig.card->bytes_seen() - first;
    const std::set<uint32_t> own(rig.image.write_log().begin(), rig.image.write_log().end());
    ASSERT_EQ(own.size(), c.write ? 1u : 0u);
    const std::vector<uint8_t> fresh = c.write ? rig.image.read_sector(*own.begin()) : std::vector<uint8_t>{};

    size_t errors = 0, unchanged = 0, stored = 0;
    for (uint64_t byte = 1; byte <= bytes; ++byte) {
        for (uint8_t bit = 0; bit < 8; ++bit) {
            SCOPED_TRACE("byte " + std::to_string(byte) + " bit " + std::to_string(bit));
            run(byte, bit);
            const bool error = !rig.board.console().empty();
            errors += error;
            if (c.write) {
                for (uint32_t s : rig.image.write_log()) {
                    ASSERT_TRUE(own.count(s)) << "sector " << s << " written";
                    const std::vector<uint8_t> now = rig.image.read_sector(s);
                    ASSERT_TRUE(now == fresh || now == integrity::sector_of(base, s)) << "sector " << s;
                }
                stored += !rig.image.write_log().empty();
                unchanged += rig.image.write_log().empty();
            } else if (!error) {
                ASSERT_EQ(got,
                          std::vector<uint8_t>(target.begin() + READ_AT, target.begin() + READ_AT + 100));
            }
        }
    }
    std::printf("[ figures  ] %s: %llu bus bytes, %llu single-bit flips: %zu disk errors, %zu %s\n",
                name_of(c).c_str(), static_cast<unsigned long long>(bytes),
                static_cast<unsigned long long>(bytes * 8), errors, c.write ? stored : bytes * 8 - errors,
                c.write ? "with the block stored as meant" : "reads with the right bytes and no message");
    if (c.write) {
        std::printf("[ figures  ] %s: %zu with no sector written\n", name_of(c).c_str(), unchanged);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cards, GlitchOut,
    ::testing::Values(Case{16, sim::CardType::Sd2Block, true}, Case{16, sim::CardType::Sd2Byte, true},
                      Case{32, sim::CardType::Sd2Block, true}, Case{32, sim::CardType::Sd2Byte, true},
                      Case{16, sim::CardType::Sd2Block, false}, Case{16, sim::CardType::Sd2Byte, false},
                      Case{32, sim::CardType::Sd2Block, false}, Case{32, sim::CardType::Sd2Byte, false}),
    [](const auto& info) { return name_of(info.param); });

} // namespace
