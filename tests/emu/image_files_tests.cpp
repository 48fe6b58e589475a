// The files a host loader takes: the word list says word for word what the
// binary holds, and the binary has nothing in it that a loader must fix up.
#include <gtest/gtest.h>

#include <elf.h>

#include <fstream>
#include <string>

#include "chip_images.h"
#include "elf_file.h"
#include "mips16e_block.h"

namespace {

std::string words_path() {
    std::string path = SDCARD_IMAGE_PATH;
    return path.replace(path.size() - 3, 3, "words");
}

TEST(ImageFiles, WordsHoldTheBinaryAsLittleEndianWords) {
    const auto& bin = emutest::module_image();
    ASSERT_EQ(bin.size() % 4, 0u);
    std::ifstream words(words_path());
    ASSERT_TRUE(words) << words_path();
    std::string line;
    size_t at = 0;
    while (std::getline(words, line)) {
        ASSERT_EQ(line.size(), 8u) << "line " << at / 4 + 1;
        ASSERT_LT(at, bin.size());
        const uint32_t word = bin[at] | bin[at + 1] << 8 | bin[at + 2] << 16 | uint32_t(bin[at + 3]) << 24;
        ASSERT_EQ(std::stoul(line, nullptr, 16), word) << "line " << at / 4 + 1;
        at += 4;
    }
    EXPECT_EQ(at, bin.size());
}

// No j, jal or jalx is left in the code: each would reach the link-time
// address. Each function is read in its own instruction set.
TEST(ImageFiles, NoAbsoluteJumpsRemain) {
    const auto& bin = emutest::module_image();
    const target::ElfFile elf = target::ElfFile::load(SDCARD_ELF_PATH);
    const target::Section* text = elf.section(".text");
    ASSERT_NE(text, nullptr);
    ASSERT_EQ(text->address, emutest::LINK_ADDRESS);
    ASSERT_LE(text->size, bin.size());
    uint32_t code_bytes = 0;
    for (const target::Symbol& fn : elf.symbols()) {
        if (fn.type != STT_FUNC) {
            continue;
        }
        const uint32_t start = (fn.value & ~1u) - text->address, end = start + fn.size;
        ASSERT_LE(end, text->size) << fn.name;
        code_bytes += fn.size;
        for (uint32_t at = start; fn.mips16() && at < end;) {
            const uint16_t first = static_cast<uint16_t>(bin[at] | bin[at + 1] << 8);
            EXPECT_NE(first >> 11, 0x03) << fn.name << " at offset " << at; // jal, jalx
            at += emu::mips16e_length(first);
        }
        for (uint32_t at = start; !fn.mips16() && at + 4 <= end; at += 4) {
            const uint32_t opcode = bin[at + 3] >> 2;
            EXPECT_TRUE(opcode != 0x02 && opcode != 0x03 && opcode != 0x1D) << fn.name << " at offset " << at;
        }
    }
    EXPECT_GT(code_bytes, 1000u);
}

} // namespace
