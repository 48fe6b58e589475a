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
    uint64_t tail = 0; // bus bytes the call ran on for after the cut
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
    size_t whole = 0, findings = 0, fats_differed = 0, recovered = 0;
    std::map<Kind, size_t> torn;
    // After fsck.fat -a on a torn FAT or directory sector: the most other
    // files that lost bytes, and how often the file was neither old nor new.
    std::map<Kind, size_t> worst_hurt, file_neither;
};

// What a repair left: fsck.fat's findings, the other files, the file.
struct Verdict {
    integrity::Repair repair;
    size_t others_hurt = 0; // other files missing or changed
    bool old_or_new = false;
    std::string file; // what became of the file, for a message
};

// Whether the file at `path` may take this entry: a free one, its own, or
// one of its long-name entries.
bool own_entry(const Bytes& was, const std::string& path) {
    const std::string name = testsupport::dir_name(path.substr(path.rfind('/') + 1));
    uint8_t sum = 0;
    for (const char c : name) {
        sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + static_cast<uint8_t>(c));
    }
    constexpr uint8_t FREE = 0x00, DELETED = 0xE5, LONG_NAME = 0x0F;
    return was[0] == FREE || was[0] == DELETED || std::equal(name.begin(), name.end(), was.begin()) ||
           (was[11] == LONG_NAME && was[13] == sum);
}

Bytes slice(const Bytes& b, size_t at, size_t n) {
    return {b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(at + n)};
}

class GrowPowerCut : public ::testing::TestWithParam<int> {
  protected:
    void SetUp() override {
        files_ = fill(vol_, GetParam());
        base_ = vol_.bytes();
        const sim::DiskImage image = sim::DiskImage::from_bytes(base_);
        geo_ = testsupport::read_geometry(image).value();
        layout_.fats = testsupport::fat_sectors(geo_);
        layout_.fats.erase(geo_.fsinfo);
        layout_.fsinfo = geo_.fsinfo;
        layout_.dirs = testsupport::all_directory_sectors(image);
        free_ = testsupport::free_sectors(image);
        integrity::write_sparse(outcome_file_, base_);
    }

    // The run without a cut; every sector it writes is one the command may
    // write: a FAT or FSInfo, the file's directory, the file's own clusters
    // and free ones.
    Reference record(Rig& rig, const Scenario& sc) {
        Reference ref;
        rig.restore(base_);
        rig.power_up(card_config());
        sc.before(rig);
        EXPECT_TRUE(rig.image.write_log().empty());
        rig.image.on_write([&ref](uint32_t s, const Bytes& d) { ref.writes.push_back({s, d}); });
        const uint64_t first = rig.card->bytes_seen();
        sc.command(rig);
        rig.image.on_write(nullptr);
        EXPECT_EQ(rig.board.console(), "");
        ref.bus_bytes = rig.card->bytes_seen() - first;
        const sim::DiskImage image = sim::DiskImage::from_bytes(base_);
        std::set<uint32_t> may = testsupport::fat_sectors(geo_);
        may.insert(free_.begin(), free_.end());
        for (const auto& more : {testsupport::parent_directory_sectors(image, sc.path).value(),
                                 testsupport::file_sectors(image, sc.path).value_or(std::set<uint32_t>{})}) {
            may.insert(more.begin(), more.end());
        }
        for (const auto& [s, data] : ref.writes) {
            EXPECT_TRUE(may.count(s)) << "sector " << s << " is no sector the command may write";
        }
        return ref;
    }

    // The command cut after bus byte `k`: the card holds the reference's first
    // writes as they were stored and nothing else, but that the last of them
    // may be torn. The content of the sectors the reference writes, in order.
    Bytes cut_after(Rig& rig, const Scenario& sc, const Reference& ref, const std::set<uint32_t>& written,
                    uint64_t k, Outcome& o) {
        rig.restore(base_);
        rig.power_up(card_config());
        sc.before(rig);
        sim::SdCardConfig cut = card_config();
        cut.faults.torn_write = static_cast<sim::TornWrite>(k % 4);
        cut.faults.power_cut_after = rig.card->bytes_seen() + k;
        rig.card->config() = cut;
        sc.command(rig);
        const std::vector<uint32_t>& log = rig.image.write_log();
        EXPECT_LE(log.size(), ref.writes.size());
        o = {std::min(log.size(), ref.writes.size()), 0, k,
             rig.card->bytes_seen() - cut.faults.power_cut_after};
        std::map<uint32_t, const Bytes*> expect;
        for (size_t i = 0; i < o.done; ++i) {
            EXPECT_EQ(log[i], ref.writes[i].first) << "write " << i;
            expect[log[i]] = &ref.writes[i].second;
        }
        Bytes key;
        for (uint32_t s : written) {
            const Bytes now = rig.image.read_sector(s);
            if (now != (expect.count(s) ? *expect[s] : integrity::sector_of(base_, s))) {
                EXPECT_TRUE(o.done != 0 && s == log[o.done - 1] &&
                            integrity::torn_as_set(now, ref.writes[o.done - 1].second, cut.faults.torn_write))
                    << "sector " << s << " holds what no write of the command put there";
                o.torn = s;
            }
            key.insert(key.end(), now.begin(), now.end());
        }
        return key;
    }

    Verdict repaired(const Scenario& sc, int fat_copy = 0) const {
        Verdict v;
        v.repair = integrity::check_and_repair(outcome_file_, dir_.path(), fat_copy);
        for (const auto& [path, data] : files_) {
            const auto got = v.repair.files.find(path);
            v.others_hurt += path != sc.file && (got == v.repair.files.end() || got->second != data);
        }
        const auto got = v.repair.files.find(sc.file);
        const std::optional<Bytes> file =
            got == v.repair.files.end() ? std::nullopt : std::optional(got->second);
        v.old_or_new = file == sc.old_file || file == sc.new_file;
        v.file = file ? std::to_string(file->size()) + " bytes" : "absent";
        return v;
    }

    // fsck.fat -n found at most what fsck.fat -a mends without losing a byte,
    // and after the repair every other file is as it was and (`whole_file`)
    // the file is in its old or its new state.
    void expect_kept(const Verdict& v, const Scenario& sc, bool whole_file) const {
        EXPECT_EQ(v.repair.other_findings, "");
        EXPECT_EQ(v.repair.after_repair, "");
        EXPECT_EQ(v.others_hurt, 0u);
        const bool present = v.repair.files.count(sc.file) != 0;
        EXPECT_EQ(v.repair.files.size(), files_.size() - files_.count(sc.file) + (present ? 1 : 0));
        EXPECT_TRUE(!whole_file || v.old_or_new) << v.file;
    }

    testsupport::ScratchDir dir_;
    testsupport::Volume vol_{dir_.file("card.img"), shape_of(GetParam())};
    std::map<std::string, Bytes> files_;
    Bytes base_;
    testsupport::VolumeGeometry geo_;
    Layout layout_;
    std::set<uint32_t> free_;
    const std::filesystem::path outcome_file_ = dir_.file("outcome.img");
};

TEST_P(GrowPowerCut, EveryByteOfEachGrowingCommand) {
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(geo_.fat_bits, GetParam());
    Rig rig(base_);
    uint64_t cuts = 0;
    size_t checked = 0;
    for (const Scenario& sc : scenarios(files_)) {
        SCOPED_TRACE(sc.name);
        const Reference ref = record(rig, sc);
        ASSERT_FALSE(::testing::Test::HasFailure());
        std::set<uint32_t> written;
        Bytes finished = base_;
        for (const auto& [s, data] : ref.writes) {
            written.insert(s);
            std::copy(data.begin(), data.end(), finished.begin() + static_cast<std::ptrdiff_t>(s) * 512);
        }

        std::map<Bytes, Outcome> outcomes;
        uint64_t worst_tail = 0;
        for (uint64_t k = 1; k <= ref.bus_bytes; ++k) {
            SCOPED_TRACE("cut after byte " + std::to_string(k));
            Outcome o;
            Bytes key = cut_after(rig, sc, ref, written, k, o);
            ASSERT_FALSE(::testing::Test::HasFailure());
            worst_tail = std::max(worst_tail, o.tail);
            outcomes.emplace(std::move(key), o);
        }
        cuts += ref.bus_bytes;

        // Each content the cuts left, once, through fsck.fat and mtools.
        Tally t;
        for (const auto& [key, o] : outcomes) {
            SCOPED_TRACE("content of the cut after byte " + std::to_string(o.first_cut) + ", " +
                         std::to_string(o.done) + " of " + std::to_string(ref.writes.size()) + " writes");
            const std::optional<Kind> torn = o.torn != 0 ? std::optional(layout_.of(o.torn)) : std::nullopt;
            size_t n = 0;
            for (uint32_t s : written) {
                const Bytes now = slice(key, 512 * n++, 512);
                integrity::put_sectors(outcome_file_, s, now);
                // A directory entry is as it was, or the file's own as the finished command left it.
                for (uint32_t at = 0; torn != Kind::Directory && layout_.of(s) == Kind::Directory && at < 512;
                     at += ENTRY) {
                    const size_t slot = size_t{s} * 512 + at;
                    const Bytes entry = slice(now, at, ENTRY);
                    const Bytes was = slice(base_, slot, ENTRY);
                    EXPECT_TRUE(entry == was ||
                                (own_entry(was, sc.path) && entry == slice(finished, slot, ENTRY)))
                        << "directory sector " << s << " entry " << at / ENTRY;
                }
            }
            const Verdict v = repaired(sc);
            ++checked;
            if (!torn) {
                expect_kept(v, sc, true);
                EXPECT_TRUE(o.done < ref.writes.size() || !v.repair.found_any) << "the finished command";
                ++t.whole;
                t.findings += v.repair.found_any;
                t.fats_differed += v.repair.fats_differed;
                t.recovered += static_cast<size_t>(v.repair.recovered_chains);
                continue;
            }
            ++t.torn[*torn];
            if (*torn == Kind::Data) {
                expect_kept(v, sc, false); // the file's bytes in the torn sector are whatever the card left
            } else if (*torn == Kind::FsInfo) {
                EXPECT_EQ(v.others_hurt, 0u);
                EXPECT_TRUE(v.old_or_new) << v.file;
            } else {
                t.worst_hurt[*torn] = std::max(t.worst_hurt[*torn], v.others_hurt);
                t.file_neither[*torn] += !v.old_or_new;
            }
            if (*torn == Kind::Fat) {
                // The other copy holds that sector as it was before, or as the command left it.
                const uint32_t per_copy = geo_.fat_sectors / geo_.fat_copies;
                expect_kept(repaired(sc, (o.torn - geo_.fat_start) / per_copy == 0 ? 2 : 1), sc, true);
                ++checked;
            }
        }
        for (uint32_t s : written) {
            integrity::put_sectors(outcome_file_, s, integrity::sector_of(base_, s));
        }
        std::printf(
            "[ figures  ] FAT%d %-16s %5llu cuts (the call ran on for at most %llu bus bytes), %2zu "
            "sectors written; %2zu whole contents: %2zu with findings (%zu FATs differing), %zu lost "
            "chains recovered; torn, one sector each: %zu FAT, %zu FSInfo, %zu directory, %zu data; "
            "fsck.fat -a after a torn FAT sector: at most %zu other files lost bytes, the file neither "
            "old nor new %zu times (from the other copy: nothing lost); after a torn directory sector: "
            "at most %zu, %zu times\n",
            GetParam(), sc.name, static_cast<unsigned long long>(ref.bus_bytes),
            static_cast<unsigned long long>(worst_tail), ref.writes.size(), t.whole, t.findings,
            t.fats_differed, t.recovered, t.torn[Kind::Fat], t.torn[Kind::FsInfo], t.torn[Kind::Directory],
            t.torn[Kind::Data], t.worst_hurt[Kind::Fat], t.file_neither[Kind::Fat],
            t.worst_hurt[Kind::Directory], t.file_neither[Kind::Directory]);
    }
    std::printf("[ figures  ] FAT%d: %llu cuts, %zu card contents through fsck.fat and mtools, in %.0f s\n",
                GetParam(), static_cast<unsigned long long>(cuts), checked,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
}

INSTANTIATE_TEST_SUITE_P(Fat, GrowPowerCut, ::testing::Values(12, 16, 32),
                         [](const auto& info) { return "Fat" + std::to_string(info.param); });

} // namespace
