// Post-link step of the chip image: makes the linked module position
// independent and writes what the host's loader takes.
//
//   postlink <linked.elf> <out-dir> [file.su ...]
//
// Writes <out-dir>/sdcard.elf (the rewritten image with its symbols),
// sdcard.bin, sdcard.words and sdcard.size; fails with every problem listed.
#include <cstdio>
#include <exception>
#include <fstream>
#include <string>
#include <vector>

#include "elf_file.h"
#include "image_outputs.h"
#include "position_independence.h"

namespace {

void write_file(const std::string& path, const void* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

void write_text(const std::string& path, const std::string& text) {
    write_file(path, text.data(), text.size());
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: postlink <linked.elf> <out-dir> [file.su ...]\n");
        return 2;
    }
    try {
        target::ElfFile elf = target::ElfFile::load(argv[1]);
        const std::string dir = argv[2];
        target::check_image_layout(elf);
        const target::RewriteSummary rewrite = target::make_position_independent(elf);
        const std::vector<uint8_t> image = target::flash_bytes(elf);
        const std::vector<std::string> su(argv + 3, argv + argc);
        const std::string report = target::size_report(elf, image, rewrite, target::read_stack_usage(su));
        write_file(dir + "/sdcard.elf", elf.bytes().data(), elf.bytes().size());
        write_file(dir + "/sdcard.bin", image.data(), image.size());
        write_text(dir + "/sdcard.words", target::hex_words(image));
        write_text(dir + "/sdcard.size", report);
        std::printf("sdcard.bin: %zu bytes (%u calls, %u jumps made PC-relative)\n", image.size(),
                    rewrite.calls, rewrite.jumps);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "postlink: %s\n", e.what());
        return 1;
    }
}
