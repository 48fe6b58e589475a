// Post-link step of the chip image: makes the linked module position
// independent, computes its stack from its code, holds it to its budgets and
// writes what the host's loader takes.
//
//   postlink <linked.elf> <out-dir> [--image-budget BYTES] [--stack-budget BYTES] [--host-stack BYTES]
//
// Writes <stem>.elf (the rewritten image with its symbols), <stem>.bin,
// <stem>.words and <stem>.size; fails with every problem listed,
// or with the figure that is over its budget.
#include <cstdio>
#include <exception>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "elf_file.h"
#include "image_outputs.h"
#include "position_independence.h"
#include "stack_depth.h"

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

// The optional "--name BYTES" pairs; a budget left out is not checked.
std::map<std::string, uint32_t> read_options(int argc, char** argv) {
    std::map<std::string, uint32_t> options;
    for (int i = 3; i < argc; i += 2) {
        const std::string name = argv[i];
        if (i + 1 >= argc ||
            (name != "--image-budget" && name != "--stack-budget" && name != "--host-stack")) {
            throw std::runtime_error("unknown option " + name);
        }
        options[name] = static_cast<uint32_t>(std::stoul(argv[i + 1]));
    }
    return options;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: postlink <linked.elf> <out-stem> [--image-budget BYTES] [--stack-budget BYTES] "
                     "[--host-stack BYTES]\n");
        return 2;
    }
    try {
        const std::map<std::string, uint32_t> options = read_options(argc, argv);
        target::ElfFile elf = target::ElfFile::load(argv[1]);
        const std::string stem = argv[2];
        target::check_image_layout(elf);
        const target::RewriteSummary rewrite = target::make_position_independent(elf);
        const std::vector<uint8_t> image = target::flash_bytes(elf);
        const target::StackReport stack = target::compute_stack(elf, 0);
        const uint32_t host_stack = options.contains("--host-stack") ? options.at("--host-stack") : 0;
        const target::StackReport with_host = target::compute_stack(elf, host_stack);
        const std::string report = target::size_report(elf, image, rewrite, stack, with_host);
        write_file(stem + ".elf", elf.bytes().data(), elf.bytes().size());
        write_file(stem + ".bin", image.data(), image.size());
        write_text(stem + ".words", target::hex_words(image));
        write_text(stem + ".size", report);
        std::printf("%s.bin: %zu bytes (%u calls, %u jumps made PC-relative), stack %u bytes\n",
                    stem.substr(stem.find_last_of('/') + 1).c_str(), image.size(), rewrite.calls,
                    rewrite.jumps, stack.worst_case);

        bool over = false;
        if (options.contains("--image-budget") && image.size() > options.at("--image-budget")) {
            std::fprintf(stderr, "postlink: the image is %zu bytes, over its budget of %u bytes\n",
                         image.size(), options.at("--image-budget"));
            over = true;
        }
        if (options.contains("--stack-budget")) {
            if (!stack.unbounded.empty()) {
                std::fprintf(stderr, "postlink: the stack has no bound: %s\n", stack.unbounded.c_str());
                over = true;
            } else if (stack.worst_case > options.at("--stack-budget")) {
                std::fprintf(
                    stderr, "postlink: the worst-case stack is %u bytes, over its budget of %u bytes (%s)\n",
                    stack.worst_case, options.at("--stack-budget"), target::describe_chain(stack).c_str());
                over = true;
            }
        }
        if (over) {
            // Without its binary the image is built again next time, and fails again.
            std::remove((stem + ".bin").c_str());
            return 1;
        }
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "postlink: %s\n", e.what());
        return 1;
    }
}
