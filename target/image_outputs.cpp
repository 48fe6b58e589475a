#include "image_outputs.h"

#include <elf.h>

#include <cxxabi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

namespace target {
namespace {

bool loaded(const Section& s) { return (s.flags & SHF_ALLOC) && s.type == SHT_PROGBITS && s.size > 0; }

// "void ns::name(args)" or a mangled symbol -> "name", enough to tell which
// functions the link kept.
std::string bare_name(const std::string& signature) {
    std::string text = signature;
    int status = 0;
    if (char* demangled = abi::__cxa_demangle(signature.c_str(), nullptr, nullptr, &status)) {
        text = demangled;
        std::free(demangled);
    }
    text = text.substr(0, text.find('('));
    const auto space = text.rfind(' ');
    text = space == std::string::npos ? text : text.substr(space + 1);
    const auto scope = text.rfind("::");
    text = scope == std::string::npos ? text : text.substr(scope + 2);
    // The entry point's symbol on the chip is its asm label.
    return text == "sdcard_main" ? "main" : text;
}

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

std::vector<StackFrame> read_stack_usage(const std::vector<std::string>& paths) {
    std::vector<StackFrame> frames;
    for (const auto& path : paths) {
        std::ifstream in(path);
        if (!in) {
            throw std::runtime_error("cannot read stack usage file " + path);
        }
        std::string line;
        while (std::getline(in, line)) {
            const auto tab = line.find('\t');
            const auto tab2 = line.find('\t', tab + 1);
            if (tab == std::string::npos || tab2 == std::string::npos) {
                continue;
            }
            // The location prefix is file:line:column: before the function.
            std::string where = line.substr(0, tab);
            size_t colon = 0;
            for (int i = 0; i < 3 && colon != std::string::npos; ++i) {
                colon = where.find(':', colon == 0 ? 0 : colon + 1);
            }
            const std::string function = colon == std::string::npos ? where : where.substr(colon + 1);
            frames.push_back({function,
                              static_cast<uint32_t>(std::stoul(line.substr(tab + 1, tab2 - tab - 1))),
                              line.substr(tab2 + 1)});
        }
    }
    return frames;
}

std::string size_report(const ElfFile& elf, const std::vector<uint8_t>& image, const RewriteSummary& rewrite,
                        std::vector<StackFrame> frames) {
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
    out << "calls made bal     " << rewrite.calls << "\n";
    out << "jumps made b       " << rewrite.jumps << "\n";
    out << "load offset points " << rewrite.load_offset_points << "\n";
    out << "data via offset    " << rewrite.data_references << "\n";
    std::set<std::string> kept;
    for (const auto& s : elf.symbols()) {
        if (s.type == STT_FUNC) {
            kept.insert(bare_name(s.name));
        }
    }
    std::erase_if(frames, [&](const StackFrame& f) { return !kept.contains(bare_name(f.function)); });
    out << "\nstack frame bytes per function in the image (largest first):\n";
    std::stable_sort(frames.begin(), frames.end(),
                     [](const StackFrame& a, const StackFrame& b) { return a.bytes > b.bytes; });
    for (const auto& f : frames) {
        char line[32];
        std::snprintf(line, sizeof line, "%6u  ", f.bytes);
        out << line << f.function << (f.kind == "static" ? "" : "  [" + f.kind + "]") << "\n";
    }
    return out.str();
}

} // namespace target
