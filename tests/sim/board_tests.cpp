// The virtual board's registers and host model, as the module relies on them.
#include <gtest/gtest.h>

#include "board.h"
#include "cfunctions.h"
#include "sfr.h"

namespace {

using sim::Board;

// A device that answers every byte with its complement and remembers selection and time.
class Echo : public sim::BusDevice {
  public:
    uint8_t exchange(uint8_t out, bool selected, uint64_t now_ps) override {
        seen.push_back({out, selected});
        times.push_back(now_ps);
        return static_cast<uint8_t>(~out);
    }
    std::vector<std::pair<uint8_t, bool>> seen;
    std::vector<uint64_t> times;
};

void connect_bus(Board& board) {
    const sim::CardPins pins = board.card_pins();
    for (auto [pin, dir] : {std::pair{pins.data_out, 8}, {pins.data_in, 2}, {pins.clock, 8}}) {
        board.host_pin_config(pin, dir, 0);
        board.host_pin_config(pin, 100, 0);
    }
    board.reg_write(SDI2R, 4);
    board.reg_write(RPB13R, 4);
    board.reg_write(SPI2CON, 0x8060);
}

TEST(BoardSpi, ExchangesOnlyWhileOnAsMaster) {
    Board board;
    board.reg_write(SPI2BUF, 0x12);
    EXPECT_TRUE(board.bus().empty());
    EXPECT_EQ(board.reg_read(SPI2STAT) & SPI2STAT_SPIRBF, 0u);

    board.reg_write(SPI2CON, 0x8000); // on, but slave
    board.reg_write(SPI2BUF, 0x12);
    EXPECT_TRUE(board.bus().empty());

    board.reg_write(SPI2CON, 0x8060);
    board.reg_write(SPI2BUF, 0x12);
    ASSERT_EQ(board.bus().size(), 1u);
    EXPECT_EQ(board.reg_read(SPI2STAT) & 0x81u, 0x81u);
    EXPECT_EQ(board.reg_read(SPI2BUF), 0xFFu); // no card
    EXPECT_EQ(board.reg_read(SPI2STAT) & SPI2STAT_SPIRBF, 0u);
}

TEST(BoardSpi, CardHearsTheBusOnlyWhenPinsPpsAndSpiAreSet) {
    Board board;
    Echo echo;
    board.attach(&echo, 7);
    board.reg_write(SPI2CON, 0x8060);
    board.reg_write(SPI2BUF, 0x0F);
    EXPECT_EQ(board.reg_read(SPI2BUF), 0xFFu);
    EXPECT_TRUE(echo.seen.empty());

    connect_bus(board);
    board.reg_write(SPI2BUF, 0x0F);
    EXPECT_EQ(board.reg_read(SPI2BUF), 0xF0u);
    board.host_pin_write(7, 5);
    board.reg_write(SPI2BUF, 0x0F);
    ASSERT_EQ(echo.seen.size(), 2u);
    EXPECT_FALSE(echo.seen[0].second);
    EXPECT_TRUE(echo.seen[1].second);
    EXPECT_FALSE(board.bus()[2].cs_high);
    EXPECT_EQ(board.reg_read(SPI2BUF), 0xF0u); // taken, so the next byte is the one read below

    board.reg_write(RPB13R, 0x10); // data out routed elsewhere
    board.reg_write(SPI2BUF, 0x0F);
    EXPECT_EQ(board.reg_read(SPI2BUF), 0xFFu);

    // A byte sent before the last one is taken (it waits in the chip's
    // transmit buffer) is read after that one, in order.
    board.reg_write(RPB13R, 4);
    board.reg_write(SPI2BUF, 0x01);
    board.reg_write(SPI2BUF, 0x02);
    EXPECT_EQ(board.reg_read(SPI2BUF), 0xFEu);
    EXPECT_NE(board.reg_read(SPI2STAT) & SPI2STAT_SPIRBF, 0u);
    EXPECT_EQ(board.reg_read(SPI2BUF), 0xFDu);
    EXPECT_EQ(board.reg_read(SPI2STAT) & SPI2STAT_SPIRBF, 0u);
}

TEST(BoardSpi, PackageFollowsTheIdentityWithoutRevision) {
    Board board;
    EXPECT_EQ(board.card_pins().data_out, 24);
    board.set_devid(0x3661A053);
    EXPECT_EQ(board.card_pins().data_out, 11);
    board.set_devid(0xF660A053);
    EXPECT_EQ(board.card_pins().clock, 15);
    board.set_devid(0x0661A054);
    EXPECT_EQ(board.card_pins().data_in, 6);
}

TEST(BoardClock, BytesAndDelaysAdvanceVirtualTimeThatTheDeviceSees) {
    Board board;
    Echo echo;
    board.attach(&echo, 7);
    connect_bus(board);
    board.reg_write(SPI2BRG, 59);
    board.reg_write(SPI2BUF, 0xFF);
    board.reg_write(SPI2BRG, 2);
    board.reg_write(SPI2BUF, 0xFF);
    board.host_delay(100);
    board.reg_write(SPI2BUF, 0xFF);
    ASSERT_EQ(board.bus().size(), 3u);
    // 8 bits x 2 x (BRG + 1) clocks of 25 ns at 40 MHz.
    EXPECT_EQ(board.bus()[1].time_ps, 960u * 25000u);
    EXPECT_EQ(board.bus()[2].time_ps, 960u * 25000u + 48u * 25000u + 100'000'000u);
    EXPECT_EQ(board.bus()[0].brg, 59u);
    EXPECT_EQ(echo.times, (std::vector<uint64_t>{0, board.bus()[1].time_ps, board.bus()[2].time_ps}));
}

TEST(BoardHost, StoredProgramListsLineByLine) {
    Board board;
    board.set_program({"10 PRINT 1", "", "20 END"});
    EXPECT_EQ(board.program_lines(), (std::vector<std::string>{"10 PRINT 1", "", "20 END"}));
    uint32_t line = sim::RAM_PROGRAM;
    const uint32_t buffer = board.host_alloc(256);
    line = board.host_list_line(buffer, line);
    EXPECT_STREQ(reinterpret_cast<const char*>(board.ram() + buffer), "10 PRINT 1");
    line = board.host_list_line(buffer, line);
    EXPECT_STREQ(reinterpret_cast<const char*>(board.ram() + buffer), "");
    line = board.host_list_line(buffer, line);
    EXPECT_EQ(board.ram()[line], 0);
}

TEST(BoardHost, LoadedTextBecomesTheProgram) {
    Board board;
    const std::string text = "A\r\nB\r\n";
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    bytes.push_back(0);
    const uint32_t at = board.host_alloc(51200);
    board.set_ram_bytes(at, bytes);
    board.host_load_program(at, 0);
    ASSERT_EQ(board.loaded_programs().size(), 1u);
    EXPECT_EQ(board.loaded_programs()[0], text);
    EXPECT_EQ(board.program_lines(), (std::vector<std::string>{"A", "B"}));
}

TEST(BoardHost, AllocationsAreTrackedAndReclaimedPerCall) {
    Board board;
    const uint32_t a = board.host_alloc(512);
    const uint32_t b = board.host_alloc(256);
    EXPECT_GE(b, a + 512);
    EXPECT_EQ(board.allocs().size(), 2u);
    board.begin_call();
    EXPECT_EQ(board.host_alloc(51200), a);
    board.host_alloc(51200);
    EXPECT_EQ(board.faults().size(), 1u);
}

} // namespace
