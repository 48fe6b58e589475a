// On-card FAT layout shared by the file-system units: sector size, directory
// entry fields and little-endian loads that never rely on alignment.
#pragma once

#include <stdint.h>

#include "unaligned.h"

constexpr uint32_t SECTOR_SIZE = 512;
constexpr uint32_t DIR_ENTRY_SIZE = 32;
constexpr uint32_t ENTRIES_PER_SECTOR = SECTOR_SIZE / DIR_ENTRY_SIZE;

// FAT types kept in FATFS.fs_type; 0 means no volume is mounted.
constexpr uint8_t FS_NONE = 0;
constexpr uint8_t FS_FAT12 = 1;
constexpr uint8_t FS_FAT16 = 2;
constexpr uint8_t FS_FAT32 = 3;

// Directory entry byte offsets.
constexpr uint32_t DIR_ATTR = 11;
constexpr uint32_t DIR_CRT_TIME = 14;
constexpr uint32_t DIR_CRT_DATE = 16;
constexpr uint32_t DIR_ACC_DATE = 18;
constexpr uint32_t DIR_CLUST_HI = 20;
constexpr uint32_t DIR_WRT_TIME = 22;
constexpr uint32_t DIR_WRT_DATE = 24;
constexpr uint32_t DIR_CLUST_LO = 26;
constexpr uint32_t DIR_FILE_SIZE = 28;

// Attribute bits; long-name entries carry the volume bit too.
constexpr uint8_t ATTR_READ_ONLY = 0x01;
constexpr uint8_t ATTR_VOLUME = 0x08;
constexpr uint8_t ATTR_DIR = 0x10;
constexpr uint8_t ATTR_ARCHIVE = 0x20;
constexpr uint8_t ATTR_LONG_NAME = 0x0F; // read-only, hidden, system and volume together

// First name byte markers.
constexpr uint8_t NAME_END = 0x00;
constexpr uint8_t NAME_DELETED = 0xE5;
constexpr uint8_t NAME_KANJI_E5 = 0x05; // a name whose first byte really is 0xE5

// Name buffer of a resolution: 11 name bytes, then the "last segment" flag.
constexpr uint32_t NAME_LEN = 11;
constexpr uint32_t NAME_LAST = 11;

inline uint16_t ld_word(const uint8_t* p) { return *reinterpret_cast<const unaligned_u16*>(p); }

inline uint32_t ld_dword(const uint8_t* p) { return *reinterpret_cast<const unaligned_u32*>(p); }

// A field at its natural alignment in the file system's working space
// (FatScratch), which is word aligned: one load instead of an unaligned pair
// or four byte loads, about 60 bytes over the image.
typedef uint16_t __attribute__((may_alias)) aligned_u16;
typedef uint32_t __attribute__((may_alias)) aligned_u32;

inline uint16_t ld_aligned_word(const uint8_t* p) { return *reinterpret_cast<const aligned_u16*>(p); }

inline uint32_t ld_aligned_dword(const uint8_t* p) { return *reinterpret_cast<const aligned_u32*>(p); }
