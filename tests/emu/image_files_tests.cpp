// The files a host loader takes: the word list says word for word what the
// binary holds, and the binary has nothing in it that a loader must fix up.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "chip_images.h"
#include "code_walk.h"
#include "elf_file.h"

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

// No jal, j or jalx is left in the code, read in each function's instruction
// set: each would reach the link-time address.
TEST(ImageFiles, NoAbsoluteJumpsRemain) {
    const auto& bin = emutest::module_image();
    const target::ElfFile elf = target::ElfFile::load(SDCARD_ELF_PATH);
    const target::Section* text = elf.section(".text");
    ASSERT_NE(text, nullptr);
    ASSERT_EQ(text->address, emutest::LINK_ADDRESS);
    ASSERT_LE(text->size, bin.size());
    EXPECT_GT(text->size, 1000u);
    EXPECT_EQ(target::absolute_jumps(elf), std::vector<uint32_t>{}) << "sites of jal, j or jalx";
}

} // namespace
