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
constexpr uint32_t SPI2STAT_SPIRBF = 1u << 0;
constexpr uint32_t SPI2STAT_SRMT = 1u << 7;

// Values the module writes on entry and at every bus set-up.
constexpr uint32_t SPI2CON_MASTER_MODE3 = 0x8060;
constexpr uint32_t SPI2CON2_IGNORE_ERRORS = 0x0C00;
constexpr uint32_t SPI2BRG_FAST = 2;
constexpr uint32_t SPI2BRG_SLOW = 59;
