// Power lost after each bus byte of a write or a save, every byte in turn: the
// card may hold at most the sector it was programming torn, everything else
// old or new, and the card mounts and reads afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <set>

#include "integrity_rig.h"
#include "sdtypes.h"
#include "torn_sector.h"

namespace {

using integrity::Rig;
using integrity::sector_of;
using testsupport::pattern;

constexpr uint32_t TARGET_SIZE = 8192;

struct Scenario {
    const char* name;
    const char* file;
    size_t file_offset; // of the first sector the command writes
    // Calls made before the one that is cut; `append` adds the earlier write of an append.
    std::function<void(Rig&)> before;
    std::function<void(Rig&)> command;
    // The file bytes a write names; everything else in its sectors is kept (none for a save).
    size_t pos = 0, count = 0;
};

void open_target(Rig& r) { r.open("TARGET.BIN"); }

std::vector<Scenario> scenarios() {
    const std::vector<uint8_t> data = pattern(400, 99);
    auto write_at = [data](int32_t pos, size_t n) {
        return [data, pos, n](Rig& r) {
            r.write(pos, {data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n)});
        };
    };
    return {
        {"aligned", "TARGET.BIN", 2048, open_target, write_at(2048, 200), 2048, 200},
        {"unaligned", "TARGET.BIN", 2048, open_target, write_at(2100, 100), 2100, 100},
        {"second sector", "TARGET.BIN", 2048, open_target, write_at(2300, 400), 2300, 400},
        {"cluster boundary", "TARGET.BIN", 2560, open_target, write_at(2900, 300), 2900, 300},
        {"append", "TARGET.BIN", 0,
         [write_at](Rig& r) {
             open_target(r);
             write_at(-1, 100)(r);
         },
         write_at(-1, 60), 100, 60},
        {"save", "PROG.BAS", 0, [](Rig&) {},
         [](Rig& r) {
             r.board.set_program(integrity::program_lines(15));
             r.call(MODE_SAVE, sim::counted("PROG.BAS"));
         }},
    };
}

class PowerCut : public ::testing::TestWithParam<int> {};

TEST_P(PowerCut, EveryByteOfWritesAndASave) {
    const int fat = GetParam();
    testsupport::ScratchDir dir;
    testsupport::Volume vol(dir.file("card.img"), integrity::volume_shape(fat));
    const std::vector<uint8_t> target = pattern(TARGET_SIZE, 1);
    const std::vector<uint8_t> prog = pattern(2048, 2);
    const std::vector<uint8_t> other = pattern(3000, 3);
    vol.put("/TARGET.BIN", target);
    vol.put("/PROG.BAS", prog);
    vol.put("/OTHER.BIN", other);
    const std::vector<uint8_t> base = vol.bytes();
    Rig rig(base);

    for (const Scenario& sc : scenarios()) {
        SCOPED_TRACE(sc.name);
        const std::vector<uint8_t>& file_before = std::string(sc.file) == "PROG.BAS" ? prog : target;

        // The command once without a cut: the sectors it writes, in order, and their new content.
        rig.restore(base);
        rig.power_up();
        sc.before(rig);
        const std::vector<uint8_t> start = [&] {
            std::vector<uint8_t> all = base;
            for (uint32_t s : rig.image.write_log()) {
                const std::vector<uint8_t> now = rig.image.read_sector(s);
                std::copy(now.begin(), now.end(), all.begin() + static_cast<std::ptrdiff_t>(s) * 512);
            }
            return all;
        }();
        rig.image.clear_write_log();
        const uint64_t first = rig.card->bytes_seen();
        sc.command(rig);
        ASSERT_EQ(rig.board.console(), "");
        const uint64_t bytes = rig.card->bytes_seen() - first;
        const std::vector<uint32_t> order = rig.image.write_log();
        ASSERT_FALSE(order.empty());
        const std::set<uint32_t> written(order.begin(), order.end());
        ASSERT_EQ(written.size(), order.size()) << "a sector written twice by one command";
        std::vector<std::vector<uint8_t>> fresh;
        for (uint32_t s : order) {
            fresh.push_back(rig.image.read_sector(s));
        }
        // A sector written whole holds the old bytes wherever the write names
        // none, so a cut that leaves it new or old loses nothing outside the write.
        for (size_t i = 0; sc.count != 0 && i < order.size(); ++i) {
            const std::vector<uint8_t> old = sector_of(start, order[i]);
            for (size_t b = 0; b < 512; ++b) {
                const size_t at = sc.file_offset + 512 * i + b;
                if (at < sc.pos || at >= sc.pos + sc.count) {
                    ASSERT_EQ(fresh[i][b], old[b]) << "sector " << order[i] << " byte " << b;
                }
            }
        }
        // Each written sector held the file's own bytes at the card's start
        // (so it lies in the file, not in a FAT, a directory, free space or
        // another file), consecutive ones in order.
        const size_t file_offset = sc.file_offset;
        for (size_t i = 0; i < order.size(); ++i) {
            const std::vector<uint8_t> was = sector_of(base, order[i]);
            ASSERT_TRUE(std::equal(was.begin(), was.end(),
                                   file_before.begin() + static_cast<std::ptrdiff_t>(file_offset + 512 * i)))
                << "sector " << order[i] << " is not the file's at offset " << file_offset + 512 * i;
        }

        size_t torn = 0, changed_most = 0;
        uint64_t worst_tail = 0;
        std::vector<uint8_t> torn_image;
        std::set<std::vector<uint8_t>> outcomes;
        for (uint64_t k = 1; k <= bytes; ++k) {
            SCOPED_TRACE("cut after byte " + std::to_string(k));
            rig.restore(base);
            rig.power_up();
            sc.before(rig);
            rig.image.clear_write_log();
            sim::SdCardConfig cut;
            cut.busy_bytes = 8;
            cut.faults.torn_write = static_cast<sim::TornWrite>(k % 4);
            cut.faults.power_cut_after = rig.card->bytes_seen() + k;
            rig.card->config().busy_bytes = cut.busy_bytes;
            rig.card->config().faults = cut.faults;
            sc.command(rig);
            worst_tail = std::max(worst_tail, rig.card->bytes_seen() - cut.faults.power_cut_after);

            size_t changed = 0, torn_here = 0;
            for (uint32_t s : rig.image.write_log()) {
                ASSERT_TRUE(written.count(s)) << "sector " << s << " written, outside the command's sectors";
            }
            for (size_t i = 0; i < order.size(); ++i) {
                const std::vector<uint8_t> now = rig.image.read_sector(order[i]);
                const std::vector<uint8_t> old = sector_of(start, order[i]);
                if (now == old) {
                    continue;
                }
                ++changed;
                if (now != fresh[i]) {
                    ASSERT_TRUE(integrity::torn_as_set(now, fresh[i], cut.faults.torn_write))
                        << "sector " << order[i];
                    ++torn_here;
                }
            }
            ASSERT_LE(torn_here, 1u);
            torn += torn_here;
            changed_most = std::max(changed_most, changed);

            if (torn_here != 0 && torn_image.empty()) {
                torn_image = start;
                for (uint32_t s : order) {
                    const std::vector<uint8_t> now = rig.image.read_sector(s);
                    std::copy(now.begin(), now.end(),
                              torn_image.begin() + static_cast<std::ptrdiff_t>(s) * 512);
                }
            }

            // A fresh power-up mounts, opens and reads what the card holds. What
            // follows a power-up depends on the card's content alone, so each
            // content the cuts leave is tried once.
            std::vector<uint8_t> expect;
            for (uint32_t s : order) {
                const std::vector<uint8_t> now = rig.image.read_sector(s);
                expect.insert(expect.end(), now.begin(), now.end());
            }
            expect.resize(std::min(expect.size(), file_before.size() - file_offset));
            if (!outcomes.insert(expect).second) {
                continue;
            }
            rig.power_up();
            rig.open(sc.file);
            ASSERT_EQ(rig.board.console(), "");
            ASSERT_EQ(rig.read_raw(static_cast<int32_t>(file_offset), static_cast<int32_t>(expect.size())),
                      expect);
        }
        // FATs and directories are byte for byte as before every cut (no
        // sector outside the file's was written), so one check of a torn card
        // stands for all of them.
        ASSERT_FALSE(torn_image.empty());
        vol.set_bytes(torn_image);
        EXPECT_EQ(vol.fsck_problems(), "");
        EXPECT_EQ(vol.get("/OTHER.BIN"), other);
        std::printf("[ figures  ] FAT%d %-16s %5llu cuts, %zu sectors written, at most %zu changed, "
                    "%zu torn, %zu contents left, worst tail %llu bus bytes\n",
                    fat, sc.name, static_cast<unsigned long long>(bytes), order.size(), changed_most, torn,
                    outcomes.size(), static_cast<unsigned long long>(worst_tail));
    }
}

INSTANTIATE_TEST_SUITE_P(Fat, PowerCut, ::testing::Values(16, 32),
                         [](const auto& info) { return "Fat" + std::to_string(info.param); });

} // namespace
