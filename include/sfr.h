// Addresses of the chip registers the module touches (uncached segment).
#pragma once

#include <stdint.h>

constexpr uint32_t SPI2CON = 0xBF805A00;
constexpr uint32_t SPI2STAT = 0xBF805A10;
constexpr uint32_t SPI2BUF = 0xBF805A20;
constexpr uint32_t SPI2BRG = 0xBF805A30;
constexpr uint32_t SPI2CON2 = 0xBF805A40;
constexpr uint32_t DEVID = 0xBF80F220;
constexpr uint32_t SDI2R = 0xBF80FA90;
constexpr uint32_t RPB13R = 0xBF80FB60;

constexpr uint32_t SPI2CON_ON = 1u << 15;
constexpr uint32_t SPI2CON_MSTEN = 1u << 5;
constexpr uint32_t SPI2CON_CKP = 1u << 6;
constexpr uint32_t SPI2CON_ENHBUF = 1u << 16;

// SPI2STAT bits. In standard buffer mode only SPIRBF, SPITBF, SPITBE, SPIROV
// and SPIBUSY are valid; SRMT, SPIRBE and the element counts are valid only
// with the enhanced buffer (DS60001168F, Register 16-3).
constexpr uint32_t SPI2STAT_SPIRBF = 1u << 0;
constexpr uint32_t SPI2STAT_SPITBF = 1u << 1;
constexpr uint32_t SPI2STAT_SPITBE = 1u << 3;
constexpr uint32_t SPI2STAT_SPIRBE = 1u << 5;
constexpr uint32_t SPI2STAT_SPIROV = 1u << 6;
constexpr uint32_t SPI2STAT_SRMT = 1u << 7;
constexpr uint32_t SPI2STAT_SPIBUSY = 1u << 11;
constexpr uint32_t SPI2STAT_TXBUFELM = 0x1Fu << 16;
constexpr uint32_t SPI2STAT_RXBUFELM = 0x1Fu << 24;

// With 8-bit transfers each of the enhanced buffer's 128-bit FIFOs holds 16 bytes.
constexpr uint32_t SPI2_FIFO_BYTES = 16;

// Values the module writes on entry and at every bus set-up: on, master,
// clock idle high, data out on the falling edge (SPI mode 3), 8-bit, with the
// enhanced buffer.
constexpr uint32_t SPI2CON_MASTER_MODE3 = SPI2CON_ON | SPI2CON_ENHBUF | SPI2CON_CKP | SPI2CON_MSTEN;
static_assert(SPI2CON_MASTER_MODE3 == 0x18060);
// SPIROVEN and SPITUREN: the overflow and underrun error events are enabled;
// the module enables no interrupt, so they raise nothing by themselves.
constexpr uint32_t SPI2CON2_ERROR_EVENTS = 0x0C00;
constexpr uint32_t SPI2BRG_FAST = 2;
constexpr uint32_t SPI2BRG_SLOW = 59;
