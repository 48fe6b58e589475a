// MODE_LOAD and MODE_SAVE: program text between the card and the host.
#include <gtest/gtest.h>

#include "e2e_bench.h"
#include "ram_layout.h"
#include "sdtypes.h"

namespace {

using e2e::Bench;
using e2e::bytes;
using testsupport::pattern;

// Printable text without zero bytes.
std::vector<uint8_t> text_of(size_t size, uint32_t seed) {
    std::vector<uint8_t> t = pattern(size, seed);
    for (uint8_t& c : t)
        c = static_cast<uint8_t>('a' + c % 26);
    return t;
}

struct LoadResult {
    std::string handed_over;
    std::vector<uint8_t> buffer_tail; // the two bytes after the text, then what follows the buffer
};

LoadResult load(const std::vector<uint8_t>& content) {
    Bench b;
    b.volume().put("/PROG.TXT", content);
    b.insert_card();
    b.board().set_ram_bytes(sim::RAM_ARENA, std::vector<uint8_t>(51200 + 16, 0xAA));
    b.call(MODE_LOAD, sim::counted("PROG.TXT"));
    EXPECT_EQ(b.console(), "");
    EXPECT_EQ(b.board().prepare_load_calls(), 1);
    EXPECT_EQ(b.board().loaded_programs().size(), 1u);
    EXPECT_EQ(b.board().allocs().size(), 1u);
    const sim::AllocBlock buffer = b.board().allocs().at(0);
    EXPECT_EQ(buffer.size, 51200u);
    LoadResult r;
    r.handed_over = b.board().loaded_programs().at(0);
    r.buffer_tail = b.board().ram_bytes(buffer.offset + static_cast<uint32_t>(r.handed_over.size()), 2);
    const std::vector<uint8_t> after = b.board().ram_bytes(buffer.offset + 51200, 16);
    r.buffer_tail.insert(r.buffer_tail.end(), after.begin(), after.end());
    return r;
}

std::vector<uint8_t> closed_by_zeros_then_untouched() {
    std::vector<uint8_t> tail = {0, 0};
    tail.insert(tail.end(), 16, 0xAA);
    return tail;
}

TEST(Load, HandsOverTheWholeTextOfShortAndRoundFiles) {
    for (size_t size : {300u, 256u, 128u, 1u, 0u, 5000u}) {
        const std::vector<uint8_t> content = text_of(size, static_cast<uint32_t>(size));
        const LoadResult r = load(content);
        EXPECT_EQ(r.handed_over, std::string(content.begin(), content.end())) << size;
        EXPECT_EQ(r.buffer_tail, closed_by_zeros_then_untouched()) << size;
    }
}

TEST(Load, StopsAtTheFirstZeroByte) {
    std::vector<uint8_t> content = text_of(700, 3);
    content[200] = 0;
    const LoadResult r = load(content);
    EXPECT_EQ(r.handed_over, std::string(content.begin(), content.begin() + 200));
}

TEST(Load, StopsAtTheBuffersEndWithRoomForTheTwoZeroBytes) {
    for (size_t size : {51197u, 51198u, 51199u, 60000u}) {
        const std::vector<uint8_t> content = text_of(size, 4);
        const LoadResult r = load(content);
        const size_t kept = std::min<size_t>(size, 51198);
        EXPECT_EQ(r.handed_over,
                  std::string(content.begin(), content.begin() + static_cast<std::ptrdiff_t>(kept)))
            << size;
        EXPECT_EQ(r.buffer_tail, closed_by_zeros_then_untouched()) << size;
    }
}

TEST(Load, AMissingFileStillHandsOverAnEmptyText) {
    Bench b;
    b.insert_card();
    b.call(MODE_LOAD, sim::counted("NOPE.TXT"));
    EXPECT_EQ(b.console(), "No File\r\nNot Opened\r\nNot Opened\r\n");
    ASSERT_EQ(b.board().loaded_programs().size(), 1u);
    EXPECT_EQ(b.board().loaded_programs()[0], "");
}

struct SaveBench {
    SaveBench() : original(pattern(2048, 5)) {
        b.volume().put("/SAVE.TXT", original);
        b.insert_card();
    }
    std::vector<uint8_t> saved() { return b.volume().get("/SAVE.TXT"); }
    // `text` at the start, zeros to the end of its sector, the old content after.
    std::vector<uint8_t> expected(const std::string& text) const {
        std::vector<uint8_t> e = original;
        const size_t sector_end = (text.size() + 511) / 512 * 512;
        std::fill(e.begin(), e.begin() + static_cast<std::ptrdiff_t>(sector_end), 0);
        std::copy(text.begin(), text.end(), e.begin());
        return e;
    }
    Bench b;
    std::vector<uint8_t> original;
};

TEST(Save, LinesEndInCrLfAndTheTextInTwoZeroBytes) {
    SaveBench s;
    s.b.board().set_program({"A", "B"});
    s.b.call(MODE_SAVE, sim::counted("SAVE.TXT"));
    EXPECT_EQ(s.b.console(), "");
    EXPECT_EQ(s.saved(), s.expected(std::string("A\r\nB\r\n\0\0", 8)));
}

TEST(Save, AnEmptyProgramLeavesTwoZeroBytes) {
    SaveBench s;
    s.b.call(MODE_SAVE, sim::counted("SAVE.TXT"));
    EXPECT_EQ(s.saved(), s.expected(std::string(2, '\0')));
}

TEST(Save, ALineStartOtherThanOneEndsTheProgram) {
    SaveBench s;
    s.b.board().set_ram_bytes(sim::RAM_PROGRAM, {1, 'A', 0, 2, 'Z', 0, 1, 'Q', 0, 0});
    s.b.call(MODE_SAVE, sim::counted("SAVE.TXT"));
    EXPECT_EQ(s.saved(), s.expected(std::string("A\r\n\0\0", 5)));
}

TEST(Save, WhatIsSavedLoadsBackAsTheSameProgram) {
    SaveBench s;
    std::vector<std::string> lines;
    for (int i = 0; i < 40; ++i)
        lines.push_back(std::to_string(i * 10) + " PRINT \"line " + std::to_string(i) + "\"");
    s.b.board().set_program(lines);
    s.b.call(MODE_SAVE, sim::counted("SAVE.TXT"));
    s.b.board().set_program({});
    s.b.call(MODE_LOAD, sim::counted("SAVE.TXT"));
    EXPECT_EQ(s.b.board().program_lines(), lines);
    EXPECT_EQ(s.b.console(), "");
}

TEST(Save, TextPastTheEndOfTheFileIsCutSilently) {
    Bench b;
    b.volume().put("/TINY.TXT", bytes("0123456789"));
    b.insert_card();
    b.board().set_program({"LONGER THAN TEN"});
    b.call(MODE_SAVE, sim::counted("TINY.TXT"));
    EXPECT_EQ(b.console(), "");
    EXPECT_EQ(b.volume().get("/TINY.TXT"), bytes("LONGER THA"));
}

} // namespace
