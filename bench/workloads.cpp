#include "workloads.h"

#include <random>
#include <stdexcept>
#include <string>

#include "interleaved_files.h"
#include "ram_layout.h"
#include "sdtypes.h"

namespace bench {
namespace {

constexpr uint32_t MIB = 1024 * 1024;
constexpr uint32_t PROGRAM_40K = 40 * 1024;
constexpr uint32_t PROGRAM_50K = 50'000;
constexpr int32_t FROM_RUNNING_POSITION = -1;

// Program text of exactly `size` bytes: numbered lines ending in CR LF.
std::string program_text(uint32_t size) {
    std::string text;
    for (int line = 10; text.size() < size; line += 10) {
        std::string l =
            std::to_string(line) + " PRINT \"LINE " + std::to_string(line) + " OF THE BENCHMARK\"";
        const size_t room = size - text.size();
        if (room < l.size() + 2 + 12) { // the last line takes up the rest
            l = std::to_string(line) + " REM " + std::string(room - std::to_string(line).size() - 7, 'X');
        }
        text += l + "\r\n";
    }
    return text;
}

std::vector<uint8_t> bytes(const std::string& text) { return {text.begin(), text.end()}; }

void open(TimedRig& rig, const char* name) { rig.setup({MODE_OPEN, sim::counted(name)}); }

// A 1 MB file in one piece as a computer copies it, and one whose clusters
// alternate with those of another 1 MB file (interleaved_files.h).
constexpr const char* CONTIGUOUS = "READ.BIN";
constexpr const char* FRAGMENTED = "FRAG.BIN";

void mount_and_open(TimedRig& rig, int) { rig.measure({MODE_OPEN, sim::counted(CONTIGUOUS)}, 0); }

void sequential_reads(TimedRig& rig, const char* file) {
    open(rig, file);
    for (uint32_t at = 0; at < MIB; at += 512) {
        const sim::Returned r = rig.measure({MODE_READ, {}, FROM_RUNNING_POSITION, 512}, 512);
        if (r.p4 != 512) {
            throw std::runtime_error("a 512-byte read gave " + std::to_string(r.p4));
        }
    }
}

void random_reads(TimedRig& rig, const char* file, int count) {
    open(rig, file);
    std::mt19937 random(9);
    std::uniform_int_distribution<int32_t> position(0, MIB - 100);
    for (int i = 0; i < count; ++i) {
        rig.measure({MODE_READ, {0}, position(random), 100}, 100);
    }
}

void appended_records(TimedRig& rig, int count) {
    open(rig, "APPEND.DAT");
    for (int i = 0; i < count; ++i) {
        char record[21];
        std::snprintf(record, sizeof record, "RECORD %05u ABCDEF\n", static_cast<unsigned>(i) % 100000u);
        rig.measure({MODE_WRITE, sim::counted(record), FROM_RUNNING_POSITION, 20}, 20);
    }
}

// Command 11 of the growing image, into a file it has just made: the file
// grows by a cluster whenever a record crosses into one. The cards share a
// volume, so a card after the first empties what the one before it grew.
void grown_records(TimedRig& rig, int count) {
    rig.setup({MODE_CREATE, sim::counted("GROWN.DAT")});
    rig.setup({MODE_SET_SIZE, {}, 0});
    for (int i = 0; i < count; ++i) {
        char record[21];
        std::snprintf(record, sizeof record, "RECORD %05u ABCDEF\n", static_cast<unsigned>(i) % 100000u);
        const sim::Returned r = rig.measure({MODE_APPEND, sim::counted(record), 0, 20}, 20);
        if (r.p2 != 20 * i) {
            throw std::runtime_error("record " + std::to_string(i) + " went to " + std::to_string(r.p2));
        }
    }
}

// Spread evenly over the file, whatever their number.
void unaligned_writes(TimedRig& rig, int count) {
    open(rig, "WRITE.BIN");
    const int32_t step = static_cast<int32_t>((MIB - 16) / static_cast<uint32_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        rig.measure({MODE_WRITE, sim::counted("0123456789"), i * step + 3, 10}, 10);
    }
}

void listing(TimedRig& rig, int) {
    rig.measure({MODE_OPENDIR, sim::counted("DIR200")}, 0);
    for (;;) {
        const sim::Returned r = rig.measure({MODE_READDIR, {0}}, 0);
        if (r.p1[0] == 0) {
            break;
        }
        rig.add_payload(r.p1[0]); // the name handed back
    }
}

void save_program(TimedRig& rig, int) {
    // The board's own program memory holds 4 KiB; a save leaves the host's
    // allocation arena free past its first 256 bytes, so the stored program
    // goes there.
    constexpr uint32_t at = sim::RAM_ARENA + 1024;
    std::vector<uint8_t> stored;
    const std::string text = program_text(PROGRAM_40K);
    for (size_t from = 0; from < text.size();) {
        const size_t end = text.find("\r\n", from);
        stored.push_back(1);
        stored.insert(stored.end(), text.begin() + static_cast<std::ptrdiff_t>(from),
                      text.begin() + static_cast<std::ptrdiff_t>(end));
        stored.push_back(0);
        from = end + 2;
    }
    stored.push_back(0);
    rig.board().set_ram_bytes(at, stored);
    rig.cpu().place_program_memory(at);
    rig.measure({MODE_SAVE, sim::counted("SAVE.BAS")}, text.size());
}

void load_program(TimedRig& rig, const char* name, uint32_t size) {
    rig.measure({MODE_LOAD, sim::counted(name)}, size);
    // The module hands the whole text over; the board's host keeps 4 KiB of
    // it as its program, which is the bench's limit, not the module's.
    if (rig.board().loaded_programs().back().size() != size) {
        throw std::runtime_error(std::string("the load of ") + name + " handed over " +
                                 std::to_string(rig.board().loaded_programs().back().size()) + " bytes");
    }
}

void fresh_write_near_end(TimedRig& rig, const char* file) {
    rig.setup({MODE_OPEN, sim::counted(CONTIGUOUS)}); // the card is up, the volume mounted
    rig.measure({MODE_OPEN, sim::counted(file)}, 0);
    rig.measure({MODE_WRITE, sim::counted("0123456789"), MIB - 1000 + 3, 10}, 10);
}

} // namespace

void fill_volume(const testsupport::Volume& volume) {
    volume.put(std::string("/") + CONTIGUOUS, testsupport::pattern(MIB, 1));
    put_interleaved(volume, FRAGMENTED, testsupport::pattern(MIB, 3), "OTHER.BIN",
                    testsupport::pattern(MIB, 4));
    volume.put("/WRITE.BIN", testsupport::pattern(MIB, 2));
    volume.put("/APPEND.DAT", std::vector<uint8_t>(40 * 1024, 0));
    volume.put("/PROG40K.BAS", bytes(program_text(PROGRAM_40K)));
    volume.put("/PROG50K.BAS", bytes(program_text(PROGRAM_50K)));
    volume.put("/SAVE.BAS", std::vector<uint8_t>(48 * 1024, ' '));
    volume.mkdir("/DIR200");
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
    for (int i = 0; i < 200; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "F%03d.TXT", i);
        files.push_back({name, testsupport::pattern(16, uint32_t(i))});
    }
    volume.put_many("/DIR200", files);
}

const std::vector<Workload>& workloads() {
    static const std::vector<Workload> table = {
        {"mount and open", 1, 1, mount_and_open, Figure::MountAndOpen},
        {"1 MB in 512-byte raw reads", 2048, 2048,
         [](TimedRig& rig, int) { sequential_reads(rig, CONTIGUOUS); }, Figure::SequentialReads},
        {"random 100-byte string reads", 1000, 1000,
         [](TimedRig& rig, int count) { random_reads(rig, CONTIGUOUS, count); }, Figure::RandomReads},
        {"appended 20-byte records (position -1)", 2000, 200, appended_records},
        {"20-byte records grown by command 11", 2000, 200, grown_records, Figure::GrownRecords, false,
         Image::Growing},
        {"unaligned 10-byte writes over 1 MB", 200, 8, unaligned_writes},
        {"listing 200 entries", 202, 202, listing},
        {"save a 40 KB program", 1, 1, save_program},
        {"load a 40 KB program", 1, 1,
         [](TimedRig& rig, int) { load_program(rig, "PROG40K.BAS", PROGRAM_40K); }},
        {"fresh open, 10-byte write at the end", 2, 2,
         [](TimedRig& rig, int) { fresh_write_near_end(rig, "WRITE.BIN"); }, Figure::FreshWrite},
        {"load a 50,000-byte program", 1, 1,
         [](TimedRig& rig, int) { load_program(rig, "PROG50K.BAS", PROGRAM_50K); }, Figure::Load50k},
        {"1 MB in 512-byte raw reads, fragmented", 2048, 2048,
         [](TimedRig& rig, int) { sequential_reads(rig, FRAGMENTED); }, Figure::SequentialReads, true},
        {"random 100-byte string reads, fragmented", 1000, 10,
         [](TimedRig& rig, int count) { random_reads(rig, FRAGMENTED, count); }, Figure::RandomReads, true},
        {"fresh open, 10-byte write at the end, fragmented", 2, 2,
         [](TimedRig& rig, int) { fresh_write_near_end(rig, FRAGMENTED); }, Figure::FreshWrite, true},
    };
    return table;
}

bool is_seek(const Workload& w) {
    return w.figure == Figure::SequentialReads || w.figure == Figure::RandomReads ||
           w.figure == Figure::FreshWrite;
}

} // namespace bench
