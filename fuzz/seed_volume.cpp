#include "seed_volume.h"

#include <string>

#include "little_endian.h"

namespace fuzz {

namespace {

using testsupport::put16;
using testsupport::put32;

constexpr uint32_t SECTORS = 160;
constexpr uint32_t CLUSTERS = 100;
constexpr uint32_t BOOT = 1;
constexpr uint32_t FAT1 = 2;
constexpr uint32_t FAT2 = 3;
constexpr uint32_t ROOT = 4;
constexpr uint32_t DATA = 5; // cluster 2

size_t at_sector(uint32_t s) { return size_t{s} * 512; }

void set_fat12(std::vector<uint8_t>& b, uint32_t cluster, uint32_t value) {
    for (uint32_t fat : {FAT1, FAT2}) {
        const size_t at = at_sector(fat) + cluster + cluster / 2;
        const uint32_t word = b[at] | (b[at + 1] << 8);
        const uint32_t merged = cluster & 1 ? (word & 0x000F) | (value << 4) : (word & 0xF000) | value;
        put16(b, at, merged);
    }
}

void chain(std::vector<uint8_t>& b, const std::vector<uint32_t>& clusters) {
    for (size_t i = 0; i < clusters.size(); i++) {
        set_fat12(b, clusters[i], i + 1 < clusters.size() ? clusters[i + 1] : 0xFFF);
    }
}

void entry(std::vector<uint8_t>& b, uint32_t sector, uint32_t slot, const std::string& name11, uint8_t attr,
           uint32_t cluster, uint32_t size) {
    const size_t at = at_sector(sector) + slot * 32;
    for (size_t i = 0; i < 11; i++) {
        b[at + i] = static_cast<uint8_t>(name11[i]);
    }
    b[at + 11] = attr;
    put16(b, at + 26, cluster);
    put32(b, at + 28, size);
}

void text(std::vector<uint8_t>& b, uint32_t cluster, const std::string& t) {
    for (size_t i = 0; i < t.size(); i++) {
        b[at_sector(DATA + cluster - 2) + i] = static_cast<uint8_t>(t[i]);
    }
}

} // namespace

std::vector<uint8_t> seed_volume() {
    std::vector<uint8_t> b(at_sector(SECTORS), 0);
    // MBR: one FAT12 partition from sector 1.
    b[446 + 4] = 0x01;
    put32(b, 446 + 8, BOOT);
    put32(b, 446 + 12, SECTORS - BOOT);
    put16(b, 510, 0xAA55);

    const size_t bs = at_sector(BOOT);
    b[bs] = 0xEB;
    b[bs + 1] = 0x3C;
    b[bs + 2] = 0x90;
    put16(b, bs + 11, 512);
    b[bs + 13] = 1;                            // sectors per cluster
    put16(b, bs + 14, FAT1 - BOOT);            // reserved
    b[bs + 16] = 2;                            // FATs
    put16(b, bs + 17, 16);                     // root entries: one sector
    put16(b, bs + 19, DATA - BOOT + CLUSTERS); // total sectors
    b[bs + 21] = 0xF8;
    put16(b, bs + 22, 1); // sectors per FAT
    b[bs + 54] = 'F';
    b[bs + 55] = 'A';
    b[bs + 56] = 'T';
    put16(b, bs + 510, 0xAA55);
    set_fat12(b, 0, 0xFF8);
    set_fat12(b, 1, 0xFFF);

    entry(b, ROOT, 0, "SEEDCARD   ", 0x08, 0, 0);
    entry(b, ROOT, 1, "DIR        ", 0x10, 2, 0);
    entry(b, ROOT, 2, "FILE    TXT", 0x20, 3, 3 * 512 - 100);
    entry(b, ROOT, 3,
          "\xE5"
          "LD     TXT",
          0x20, 20, 600); // deleted: its cluster is free
    entry(b, ROOT, 4, "PROG    BAS", 0x20, 8, 512);
    entry(b, ROOT, 5,
          "\x05"
          "EIGHT  TXT",
          0x20, 9, 40);
    chain(b, {2});
    chain(b, {3, 4, 7});
    chain(b, {8});
    chain(b, {9});
    entry(b, DATA, 0, ".          ", 0x10, 2, 0);
    entry(b, DATA, 1, "..         ", 0x10, 0, 0);
    entry(b, DATA, 2, "INNER   TXT", 0x20, 5, 700);
    chain(b, {5, 6});
    text(b, 3, "first cluster of FILE.TXT\r\n");
    text(b, 8, "print \"hello\"\r\nrun\r\n\0\0");
    text(b, 5, "inner text\r\n");
    return b;
}

} // namespace fuzz
