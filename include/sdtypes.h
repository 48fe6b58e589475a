// Result codes, card kinds, open-file flags and command numbers shared by
// every layer of the module.
#pragma once

#include <stdint.h>

enum FRESULT : uint8_t {
    FR_OK = 0,
    FR_DISK_ERR = 1,
    FR_NOT_READY = 2,
    FR_NO_FILE = 3,
    FR_NOT_OPENED = 4,
    FR_NOT_ENABLED = 5,
    FR_NO_FILESYSTEM = 6,
    // Only an image that creates and grows files gives these.
    FR_CARD_FULL = 7,    // no free cluster left for the data
    FR_DIR_FULL = 8,     // no free slot in the directory for the name
    FR_DENIED = 9,       // the name is a directory, or a read-only file
    FR_INVALID_NAME = 10 // the name is no valid 8.3 name
};

enum DRESULT : uint8_t {
    RES_OK = 0,
    RES_ERROR = 1,
    RES_NOTRDY = 2,
    RES_PARERR = 3,
};

// Status byte of disk_initialize: 0 ready, bit 0 set when the card did not come up.
typedef uint8_t DSTATUS;
constexpr DSTATUS STA_NOINIT = 0x01;

// Card kind word kept in the state block.
constexpr uint32_t KIND_MMC = 1;
constexpr uint32_t KIND_SD1 = 2;
constexpr uint32_t KIND_SD2 = 4;
constexpr uint32_t KIND_BLOCK = 8;

// Open-file state bits of FATFS.flag.
constexpr uint8_t FLAG_OPEN = 0x01;
constexpr uint8_t FLAG_UNBORN = 0x02; // open, but its entry is still to be put in its directory
constexpr uint8_t FLAG_WRITING = 0x40;

// Command numbers of the entry point.
constexpr int32_t MODE_SET_CS = 0;
constexpr int32_t MODE_OPEN = 1;
constexpr int32_t MODE_READ = 2;
constexpr int32_t MODE_WRITE = 3;
constexpr int32_t MODE_OPENDIR = 4;
constexpr int32_t MODE_READDIR = 5;
constexpr int32_t MODE_LOAD = 6;
constexpr int32_t MODE_SAVE = 7;
constexpr int32_t MODE_STATUS = 8;
// Only in an image that creates and grows files.
constexpr int32_t MODE_CREATE = 9;
constexpr int32_t MODE_SET_SIZE = 10;
constexpr int32_t MODE_APPEND = 11;
constexpr int32_t MODE_DELETE = 12;
