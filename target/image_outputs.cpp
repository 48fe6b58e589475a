#include "image_outputs.h"

#include <elf.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <stdexcept>

namespace target {
namespace {

bool loaded(const Section& s) { return (s.flags & SHF_ALLOC) && s.type == SHT_PROGBITS && s.size > 0; }

} // namespace

std::vector<uint8_t> flash_bytes(const ElfFile& elf) {
    uint32_t start = UINT32_MAX, end = 0;
    for (const auto& s : elf.sections()) {
        if (loaded(s)) {
            start = std::min(start, s.address);
            end = std::max(end, s.address + s.size);
        }
    }
    if (start >= end) {
        throw std::runtime_error("the image is empty");
    }
    std::vector<uint8_t> image((end - start + 3) & ~3u, 0);
    for (const auto& s : elf.sections()) {
        if (loaded(s)) {
            std::memcpy(image.data() + (s.address - start), elf.bytes().data() + s.file_offset, s.size);
        }
    }
    return image;
}

std::string hex_words(const std::vector<uint8_t>& image) {
    std::string text;
    char line[16];
    for (size_t i = 0; i + 4 <= image.size(); i += 4) {
        uint32_t word;
        std::memcpy(&word, image.data() + i, 4);
        std::snprintf(line, sizeof line, "%08x\n", word);
        text += line;
    }
    return text;
}

std::string size_report(const ElfFile& elf, const std::vector<uint8_t>& image, const RewriteSummary& rewrite,
                        const StackReport& stack, const StackReport& with_host) {
    uint32_t code = 0, rodata = 0;
    for (const auto& s : elf.sections()) {
        if (loaded(s)) {
            ((s.flags & SHF_EXECINSTR) ? code : rodata) += s.size;
        }
    }
    std::ostringstream out;
    out << "image bytes        " << image.size() << "\n";
    out << "code bytes         " << code << "\n";
    out << "read-only data     " << rodata << "\n";
    out << "calls PC-relative  " << rewrite.calls << "\n";
    out << "jumps PC-relative  " << rewrite.jumps << "\n";
    out << "load offset points " << rewrite.load_offset_points << "\n";
    out << "data via offset    " << rewrite.data_references << "\n";
    if (stack.unbounded.empty()) {
        out << "\nworst-case stack   " << stack.worst_case
            << " bytes below main's caller, the module's own frames\n";
        out << "deepest chain      " << describe_chain(stack) << "\n";
        out << "with host services " << with_host.worst_case << " bytes, allowing "
            << with_host.host_allowance << " for the deepest host service\n";
    } else {
        out << "\nworst-case stack   no bound: " << stack.unbounded << "\n";
    }
    std::vector<FunctionStack> frames = stack.functions;
    std::stable_sort(frames.begin(), frames.end(),
                     [](const FunctionStack& a, const FunctionStack& b) { return a.frame > b.frame; });
    out << "\nstack frame bytes per function in the image (largest first), and the depth from its entry:\n";
    for (const auto& f : frames) {
        char line[40];
        std::snprintf(line, sizeof line, "%6u %6u  ", f.frame, f.depth);
        out << line << f.name << (f.unbounded.empty() ? "" : "  [" + f.unbounded + "]") << "\n";
    }
    return out.str();
}

} // namespace target
