// Power lost after each bus byte of the growing image's commands: a create, an
// append that crosses into a new cluster, a set size that grows and one that
// shrinks, a delete and a save into a missing file, on FAT12, FAT16 and FAT32.
// A cut leaves what the command's writes had put down until then, the sector
// being programmed old, new or torn, and nothing else. With sectors stored
// whole, every other file and directory entry stays as it was, fsck.fat -n
// finds at most what fsck.fat -a mends without losing a byte, and after that
// repair the file is in its old or its new state. Torn FAT and directory
// sectors are counted, with what the repair then cost.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <set>

#include "fat_repair.h"
#include "integrity_rig.h"
#include "sdtypes.h"
#include "torn_sector.h"
#include "volume_map.h"

namespace {

using Bytes = std::vector<uint8_t>;
using integrity::Rig;
using testsupport::pattern;

constexpr uint32_t ENTRY = 32;
// An entry of a FAT12 cluster with this number lies across two FAT sectors.
constexpr uint32_t FAT12_SPLIT_ENTRY = 341;

struct Scenario {
    const char* name;
    std::string file;                 // the file the command changes, as mtools names it
    std::string path;                 // and as the module does
    std::function<void(Rig&)> before; // uncut calls first: the open the command works on
    std::function<void(Rig&)> command;
    std::optional<Bytes> old_file, new_file; // its content before and after; nothing: no such file
};

testsupport::VolumeSpec shape_of(int fat) {
    testsupport::VolumeSpec shape;
    shape.fat = fat;
    shape.sectors_per_cluster = fat == 32 ? 1 : 2;
    shape.size_kib = fat == 32 ? 34 * 1024 : fat == 16 ? 8192 : 2048;
    return shape;
}

Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes program_text(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\r\n";
    }
    return {text.begin(), text.end()};
}

// The card every scenario starts from, and each file on it by its mtools path.
std::map<std::string, Bytes> fill(testsupport::Volume& vol, int fat) {
    std::map<std::string, Bytes> files = {{"/DIR/INNER.BIN", pattern(1500, 1)},
                                          {"/KEEP.BIN", pattern(3000, 2)},
                                          {"/Long Name File.txt", pattern(1500, 3)}};
    vol.mkdir("/DIR");
    for (const auto& [path, data] : files) {
        vol.put(path, data);
    }
    if (fat == 12) {
        // APP.LOG's cluster then holds the entry that lies across two FAT
        // sectors, and the append links the next one from it.
        const sim::DiskImage image = sim::DiskImage::from_bytes(vol.bytes());
        const testsupport::VolumeGeometry geo = testsupport::read_geometry(image).value();
        const uint32_t next =
            (*testsupport::free_sectors(image).begin() - geo.data_start) / geo.cluster_sectors + 2;
        files["/FILL.BIN"] = pattern((FAT12_SPLIT_ENTRY - next) * geo.cluster_sectors * 512, 9);
        vol.put("/FILL.BIN", files["/FILL.BIN"]);
    }
    for (const auto& [path, data] : {std::pair<std::string, Bytes>{"/APP.LOG", pattern(1000, 4)},
                                     {"/GROW.BIN", pattern(1000, 5)},
                                     {"/SHRINK.BIN", pattern(5000, 6)},
                                     {"/Delete Me Long.txt", pattern(2000, 7)}}) {
        files[path] = data;
        vol.put(path, data);
    }
    return files;
}

std::vector<Scenario> scenarios(const std::map<std::string, Bytes>& files) {
    auto open = [](const char* name) { return [name](Rig& r) { r.open(name); }; };
    auto set_size = [](int32_t size) { return [size](Rig& r) { r.call(MODE_SET_SIZE, {0}, size); }; };
    const Bytes appended = pattern(300, 8);
    const std::vector<std::string> program = integrity::program_lines(15);
    const Bytes& grown = files.at("/GROW.BIN");
    const Bytes& shrunk = files.at("/SHRINK.BIN");
    return {
        {"create", "/DIR/NEW.TXT", "DIR/NEW.TXT", [](Rig&) {},
         [](Rig& r) { r.call(MODE_CREATE, sim::counted("DIR/NEW.TXT")); }, std::nullopt, Bytes{}},
        {"append", "/APP.LOG", "APP.LOG", open("APP.LOG"),
         [appended](Rig& r) { r.call(MODE_APPEND, appended, 0, static_cast<int32_t>(appended.size())); },
         files.at("/APP.LOG"), concat(files.at("/APP.LOG"), appended)},
        {"set size, grow", "/GROW.BIN", "GROW.BIN", open("GROW.BIN"), set_size(5000), grown,
         concat(grown, Bytes(5000 - grown.size(), 0))},
        {"set size, shrink", "/SHRINK.BIN", "SHRINK.BIN", open("SHRINK.BIN"), set_size(700), shrunk,
         Bytes(shrunk.begin(), shrunk.begin() + 700)},
        {"delete", "/Delete Me Long.txt", "DELETE~1.TXT", [](Rig&) {},
         [](Rig& r) { r.call(MODE_DELETE, sim::counted("DELETE~1.TXT")); }, files.at("/Delete Me Long.txt"),
         std::nullopt},
        {"save, new file", "/PROG.BAS", "PROG.BAS", [program](Rig& r) { r.board.set_program(program); },
         [](Rig& r) { r.call(MODE_SAVE, sim::counted("PROG.BAS")); }, std::nullopt, program_text(program)},
    };
}

sim::SdCardConfig card_config() {
    sim::SdCardConfig config;
    config.busy_bytes = 8; // a cut can fall while a block is being programmed
    return config;
}

// What the command writes when nothing cuts it short: each sector as stored, in order.
struct Reference {
    std::vector<std::pair<uint32_t, Bytes>> writes;
    uint64_t bus_bytes = 0;
};

// One content of the card a cut leaves: after `done` of the reference's
// writes, and (torn != 0) sector `torn` left as the card's torn-write setting does.
struct Outcome {
    size_t done = 0;
    uint32_t torn = 0;
    uint64_t first_cut = 0;
};

enum class Kind { Fat, FsInfo, Directory, Data };

struct Layout {
    std::set<uint32_t> fats, dirs;
    uint32_t fsinfo = 0;
    Kind of(uint32_t s) const {
        return s == fsinfo     ? Kind::FsInfo
               : fats.count(s) ? Kind::Fat
               : dirs.count(s) ? Kind::Directory
                               : Kind::Data;
    }
};

struct Tally {
    size_t whole = 0, torn = 0, found = 0, recovered = 0;
    size_t torn_fat = 0, torn_dir = 0, torn_fsinfo = 0, torn_data = 0;
    size_t worst_others_hurt = 0, file_neither = 0;
};

Bytes sector_in(const Bytes& image, uint32_t s) { return integrity::sector_of(image, s); }

void put_sector(Bytes& image, uint32_t s, const Bytes& data) {
    std::copy(data.begin(), data.end(), image.begin() + static_cast<std::ptrdiff_t>(s) * 512);
}

class GrowPowerCut : public ::testing::TestWithParam<int> {};

TEST_P(GrowPowerCut, EveryByteOfEachGrowingCommand) {
    const int fat = GetParam();
    const auto started = std::chrono::steady_clock::now();
    testsupport::ScratchDir dir;
    testsupport::Volume vol(dir.file("card.img"), shape_of(fat));
    const std::map<std::string, Bytes> files = fill(vol, fat);
    const Bytes base = vol.bytes();
    const sim::DiskImage base_image = sim::DiskImage::from_bytes(base);
    const testsupport::VolumeGeometry geo = testsupport::read_geometry(base_image).value();
    ASSERT_EQ(geo.fat_bits, fat);
    Layout layout;
    layout.fats = testsupport::fat_sectors(geo);
    layout.fsinfo = geo.fsinfo;
    layout.fats.erase(geo.fsinfo);
    layout.dirs = testsupport::all_directory_sectors(base_image);
    const std::set<uint32_t> free = testsupport::free_sectors(base_image);
    const std::filesystem::path outcome_file = dir.file("outcome.img");
    const std::filesystem::path read_back = dir.file("files");
    std::filesystem::create_directory(read_back);
    Rig rig(base);
    uint64_t cuts = 0;
    size_t repairs = 0;

    for (const Scenario& sc : scenarios(files)) {
        SCOPED_TRACE(sc.name);
        // The reference run, and which sectors it may write at all: the FATs,
        // FSInfo, the file's directory, the file's own clusters and free ones.
        Reference ref;
        rig.restore(base);
        rig.power_up(card_config());
        sc.before(rig);
        ASSERT_TRUE(rig.image.write_log().empty());
        rig.image.on_write([&ref](uint32_t s, const Bytes& d) { ref.writes.push_back({s, d}); });
        const uint64_t first = rig.card->bytes_seen();
        sc.command(rig);
        rig.image.on_write(nullptr);
        ASSERT_EQ(rig.board.console(), "");
        ref.bus_bytes = rig.card->bytes_seen() - first;
        std::set<uint32_t> may = testsupport::fat_sectors(geo);
        may.insert(free.begin(), free.end());
        const std::set<uint32_t> parent = testsupport::parent_directory_sectors(base_image, sc.path).value();
        const std::set<uint32_t> own =
            testsupport::file_sectors(base_image, sc.path).value_or(std::set<uint32_t>{});
        may.insert(parent.begin(), parent.end());
        may.insert(own.begin(), own.end());
        std::set<uint32_t> written;
        Bytes final_image = base;
        for (const auto& [s, data] : ref.writes) {
            ASSERT_TRUE(may.count(s)) << "sector " << s << " is no sector the command may write";
            written.insert(s);
            put_sector(final_image, s, data);
        }
        // A directory slot the finished command changed is the file's own.
        std::set<std::pair<uint32_t, uint32_t>> own_slots;
        for (uint32_t s : written) {
            for (uint32_t at = 0; layout.of(s) == Kind::Directory && at < 512; at += ENTRY) {
                if (!std::equal(base.begin() + s * 512 + at, base.begin() + s * 512 + at + ENTRY,
                                final_image.begin() + s * 512 + at)) {
                    own_slots.insert({s, at});
                }
            }
        }

        // Every cut, checked against the reference at once; each content it
        // leaves is kept for the tools.
        std::map<Bytes, Outcome> outcomes;
        for (uint64_t k = 1; k <= ref.bus_bytes; ++k) {
            SCOPED_TRACE("cut after byte " + std::to_string(k));
            rig.restore(base);
            rig.power_up(card_config());
            sc.before(rig);
            sim::SdCardConfig cut = card_config();
            cut.faults.torn_write = static_cast<sim::TornWrite>(k % 4);
            cut.faults.power_cut_after = rig.card->bytes_seen() + k;
            rig.card->config() = cut;
            sc.command(rig);
            const std::vector<uint32_t>& log = rig.image.write_log();
            ASSERT_LE(log.size(), ref.writes.size());
            Outcome here{log.size(), 0, k};
            std::map<uint32_t, const Bytes*> expect;
            for (size_t i = 0; i < log.size(); ++i) {
                ASSERT_EQ(log[i], ref.writes[i].first) << "write " << i;
                expect[log[i]] = &ref.writes[i].second;
            }
            Bytes key;
            for (uint32_t s : written) {
                const Bytes now = rig.image.read_sector(s);
                const Bytes want = expect.count(s) ? *expect[s] : sector_in(base, s);
                if (now != want) {
                    ASSERT_TRUE(
                        !log.empty() && s == log.back() &&
                        integrity::torn_as_set(now, ref.writes[log.size() - 1].second, cut.faults.torn_write))
                        << "sector " << s << " holds what no write of the command put there";
                    here.torn = s;
                }
                key.insert(key.end(), now.begin(), now.end());
            }
            outcomes.emplace(std::move(key), here);
        }
        cuts += ref.bus_bytes;

        // Each content the cuts left, once, through fsck.fat and mtools.
        Tally t;
        for (const auto& [key, o] : outcomes) {
            SCOPED_TRACE("content of the cut after byte " + std::to_string(o.first_cut) + ", " +
                         std::to_string(o.done) + " of " + std::to_string(ref.writes.size()) + " writes");
            Bytes image = base;
            size_t n = 0;
            for (uint32_t s : written) {
                put_sector(image, s, Bytes(key.begin() + n * 512, key.begin() + (n + 1) * 512));
                ++n;
            }
            const Kind torn = o.torn != 0 ? layout.of(o.torn) : Kind::Data;
            if (o.torn == 0 || torn == Kind::Data) {
                for (uint32_t s : written) {
                    for (uint32_t at = 0; layout.of(s) == Kind::Directory && at < 512; at += ENTRY) {
                        const auto slot = [&](const Bytes& b) {
                            return Bytes(b.begin() + s * 512 + at, b.begin() + s * 512 + at + ENTRY);
                        };
                        const Bytes now = slot(image);
                        ASSERT_TRUE(now == slot(base) ||
                                    (own_slots.count({s, at}) && now == slot(final_image)))
                            << "directory sector " << s << " entry " << at / ENTRY;
                    }
                }
            }
            vol.set_bytes(image);
            const integrity::Repair repair = integrity::check_and_repair(vol.image(), read_back);
            ++repairs;
            t.found += repair.found_any;
            t.recovered += static_cast<size_t>(repair.recovered_chains);
            size_t others_hurt = 0;
            for (const auto& [path, data] : files) {
                if (path == sc.file) {
                    continue;
                }
                const auto got = repair.files.find(path);
                others_hurt += got == repair.files.end() || got->second != data;
            }
            const auto got = repair.files.find(sc.file);
            const std::optional<Bytes> file =
                got == repair.files.end() ? std::nullopt : std::optional<Bytes>(got->second);
            const bool old_or_new = file == sc.old_file || file == sc.new_file;
            const size_t expected_files = files.size() + (file ? 1 : 0) - (files.count(sc.file) ? 1 : 0);
            if (o.torn == 0 || torn == Kind::Data) {
                EXPECT_EQ(repair.other_findings, "");
                EXPECT_EQ(repair.after_repair, "");
                EXPECT_EQ(others_hurt, 0u);
                EXPECT_EQ(repair.files.size(), expected_files);
                if (o.torn == 0) {
                    EXPECT_TRUE(old_or_new) << (file ? std::to_string(file->size()) + " bytes" : "absent");
                    EXPECT_TRUE(o.done < ref.writes.size() || !repair.found_any) << "the finished command";
                }
            }
            if (o.torn == 0) {
                ++t.whole;
                continue;
            }
            ++t.torn;
            switch (torn) {
            case Kind::Fat: ++t.torn_fat; break;
            case Kind::FsInfo: ++t.torn_fsinfo; break;
            case Kind::Directory: ++t.torn_dir; break;
            case Kind::Data: ++t.torn_data; break;
            }
            if (torn != Kind::Data) {
                t.worst_others_hurt = std::max(t.worst_others_hurt, others_hurt);
                t.file_neither += !old_or_new;
            }
        }
        std::printf(
            "[ figures  ] FAT%d %-16s %5llu cuts, %zu sectors written, %zu whole contents (%zu with "
            "findings, %zu chains recovered), %zu torn: FAT %zu, FSInfo %zu, directory %zu, data %zu; "
            "after a torn FAT, FSInfo or directory sector, at most %zu other files lost bytes, the file "
            "neither old nor new %zu times\n",
            fat, sc.name, static_cast<unsigned long long>(ref.bus_bytes), ref.writes.size(), t.whole, t.found,
            t.recovered, t.torn, t.torn_fat, t.torn_fsinfo, t.torn_dir, t.torn_data, t.worst_others_hurt,
            t.file_neither);
    }
    std::printf("[ figures  ] FAT%d: %llu cuts, %zu card contents checked with fsck.fat, in %.0f s\n", fat,
                static_cast<unsigned long long>(cuts), repairs,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
}

INSTANTIATE_TEST_SUITE_P(Fat, GrowPowerCut, ::testing::Values(12, 16, 32),
                         [](const auto& info) { return "Fat" + std::to_string(info.param); });

} // namespace
