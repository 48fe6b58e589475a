// A host that speaks to the virtual card directly, as a driver would over the
// bus, one byte time after another on a clock of its own.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "sd_card.h"
#include "sd_crc.h"

namespace cardtest {

// One byte at SPI2BRG 2 on a 40 MHz peripheral bus.
constexpr uint64_t BYTE_PS = 1'200'000;

struct Host {
    sim::SdCard& card;
    uint64_t now_ps = 0;
    uint64_t frame_ps = 0; // start of the last frame's closing byte

    uint8_t clock(uint8_t out = 0xFF, bool selected = true) {
        const uint8_t in = card.exchange(out, selected, now_ps);
        now_ps += BYTE_PS;
        return in;
    }
    void idle_clocks(int bytes) {
        for (int i = 0; i < bytes; ++i) {
            clock(0xFF, false);
        }
    }
    static std::vector<uint8_t> frame(uint8_t index, uint32_t arg) {
        return {static_cast<uint8_t>(0x40 | index), static_cast<uint8_t>(arg >> 24),
                static_cast<uint8_t>(arg >> 16), static_cast<uint8_t>(arg >> 8), static_cast<uint8_t>(arg)};
    }
    // A frame with the given closing byte; returns R1, or 0xFF after ten bytes.
    uint8_t command(uint8_t index, uint32_t arg, uint8_t crc) {
        clock(0xFF, false);
        clock();
        std::vector<uint8_t> bytes = frame(index, arg);
        bytes.push_back(crc);
        for (uint8_t b : bytes) {
            frame_ps = now_ps;
            clock(b);
        }
        uint8_t r = 0xFF;
        for (int n = 0; n < 10 && (r & 0x80); ++n) {
            r = clock();
        }
        return r;
    }
    uint8_t command(uint8_t index, uint32_t arg) {
        return command(index, arg, sim::sd_frame_crc_byte(frame(index, arg).data()));
    }
    // Wake-up, CMD0, and the start-up command of the card's kind until ready,
    // a millisecond apart, for as long as a card may take (1 s).
    void bring_up(sim::CardType type) {
        idle_clocks(10);
        ASSERT_EQ(command(0, 0), 0x01);
        for (int i = 0; i < 1001; ++i, now_ps += sim::PS_PER_MS) {
            uint8_t r;
            if (type == sim::CardType::Mmc) {
                r = command(1, 0);
            } else {
                command(55, 0);
                r = command(41, 0x40000000);
            }
            if (r == 0) {
                return;
            }
        }
        FAIL() << "card did not come up";
    }
    // The gap byte, the token and the block with the CRC given (a correct one
    // when absent); returns the data response.
    uint8_t send_block(const std::vector<uint8_t>& data, std::optional<uint16_t> crc = std::nullopt) {
        clock();
        clock(0xFE);
        for (uint8_t b : data) {
            clock(b);
        }
        const uint16_t sent = crc.value_or(sim::sd_crc16(data.data(), data.size()));
        clock(static_cast<uint8_t>(sent >> 8));
        clock(static_cast<uint8_t>(sent));
        return clock();
    }
};

} // namespace cardtest
