#include "demo_card.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "external_program.h"
#include "tool_error.h"

namespace sdsim {

namespace fs = std::filesystem;

namespace {

constexpr const char* kCrLf = "\r\n";
constexpr int kImageKiB = 64 * 1024; // large enough for FAT32 with one sector per cluster

std::string lines(std::initializer_list<const char*> text) {
    std::string out;
    for (const char* line : text) {
        out += line;
        out += kCrLf;
    }
    return out;
}

std::string numbers(int count) {
    std::string out;
    for (int i = 1; i <= count; ++i) {
        out += std::to_string(i) + kCrLf;
    }
    return out;
}

// 1024 bytes of dots in lines of 64, for writing into.
std::string scratch() {
    std::string out;
    for (int i = 0; i < 16; ++i) {
        out += std::string(62, '.') + kCrLf;
    }
    return out;
}

struct DemoFile {
    const char* card_path;
    std::string content;
};

std::vector<DemoFile> demo_files() {
    return {
        {"README.TXT", lines({"This is the sdsim demo card.", "HELLO.TXT    a greeting",
                              "SCRATCH.TXT  1024 bytes to write into", "SAMPLE.PRG   a program to load",
                              "SAVED.PRG    room for a saved program", "DATA         a sub-directory"})},
        {"HELLO.TXT", lines({"Hello from the SD card!"})},
        {"SCRATCH.TXT", scratch()},
        {"SAMPLE.PRG", lines({"10 PRINT \"Hello from the card\"", "20 FOR I = 1 TO 3", "30 PRINT I",
                              "40 NEXT I", "50 END"})},
        // Files are written only in place, so a save needs an existing file.
        {"SAVED.PRG", std::string(2048, '\0')},
        {"DATA/NUMS.TXT", numbers(200)},
        {"DATA/LOG.TXT", lines({"first entry", "second entry"})},
    };
}

void write_file(const fs::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
    if (!out) {
        throw ToolError("cannot write " + path.string());
    }
}

} // namespace

std::string demo_card_path() {
    if (const char* explicit_path = std::getenv("SDSIM_DEMO_CARD"); explicit_path && *explicit_path) {
        return explicit_path;
    }
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && *cache) {
        return (fs::path(cache) / "sdsim" / "demo.img").string();
    }
    if (const char* home = std::getenv("HOME"); home && *home) {
        return (fs::path(home) / ".cache" / "sdsim" / "demo.img").string();
    }
    throw ToolError("no place for the demo card: set SDSIM_DEMO_CARD, XDG_CACHE_HOME or HOME, or use --card");
}

void ensure_demo_card(const std::string& path) {
    if (fs::exists(path)) {
        return;
    }
    const fs::path target(path);
    std::error_code ec;
    if (target.has_parent_path()) {
        fs::create_directories(target.parent_path(), ec);
        if (ec) {
            throw ToolError("cannot create the demo card's folder " + target.parent_path().string() + ": " +
                            ec.message());
        }
    }
    // Built beside its final place and renamed at the end, so that an
    // interrupted creation never leaves a half-made card behind.
    const fs::path work = target.string() + ".new-" + std::to_string(::getpid());
    const fs::path files = target.string() + ".files-" + std::to_string(::getpid());
    struct Cleanup {
        fs::path work, files;
        ~Cleanup() {
            std::error_code ignored;
            fs::remove(work, ignored);
            fs::remove_all(files, ignored);
        }
    } cleanup{work, files};

    const std::string image = work.string();
    run_program({"mkfs.fat", "-C", "-F", "32", "-s", "1", "-n", "SDSIM", image, std::to_string(kImageKiB)},
                "create the demo card");
    run_program({"mmd", "-i", image, "::/DATA"}, "create the demo card");
    fs::create_directories(files, ec);
    for (const DemoFile& file : demo_files()) {
        const fs::path source = files / fs::path(file.card_path).filename();
        write_file(source, file.content);
        run_program({"mcopy", "-i", image, source.string(), std::string("::/") + file.card_path},
                    "create the demo card");
    }
    fs::rename(work, target, ec);
    if (ec) {
        throw ToolError("cannot place the demo card at " + path + ": " + ec.message());
    }
}

} // namespace sdsim
