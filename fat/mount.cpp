// Finding the FAT volume on the card and taking its geometry from the boot sector.
#include "diskio.h"
#include "fat_fs.h"
#include "fat_layout.h"

namespace {

// Offsets of the boot record and the master boot record.
constexpr uint32_t BS_SIGNATURE = 510;
constexpr uint32_t BS_FSTYPE_FAT16 = 54;
constexpr uint32_t BS_FSTYPE_FAT32 = 82;
constexpr uint32_t MBR_FIRST_ENTRY = 446;
constexpr uint32_t PTE_TYPE = 4;
constexpr uint32_t PTE_START = 8;

// The BIOS parameter block is read as one piece from sector offset 12 into
// the word-aligned working space, so that each field keeps the alignment it
// has in the sector and the aligned ones load in one instruction; these
// offsets are relative to that piece.
constexpr uint32_t BPB_OFFSET = 12;
constexpr uint32_t BPB_SIZE = 37;
constexpr uint32_t BPB_SEC_PER_CLUS = 1; // 13
constexpr uint32_t BPB_RSVD_SEC_CNT = 2; // 14
constexpr uint32_t BPB_NUM_FATS = 4;     // 16
constexpr uint32_t BPB_ROOT_ENT_CNT = 5; // 17, unaligned
constexpr uint32_t BPB_TOT_SEC16 = 7;    // 19, unaligned
constexpr uint32_t BPB_FAT_SZ16 = 10;    // 22
constexpr uint32_t BPB_TOT_SEC32 = 20;   // 32
constexpr uint32_t BPB_FAT_SZ32 = 24;    // 36
constexpr uint32_t BPB_ROOT_CLUS = 32;   // 44
#if SDCARD_IMAGE == SDCARD_IMAGE_GROWING
constexpr uint32_t BPB_FSINFO = 36; // 48: its low byte, all that a volume ever needs
#endif

// check_fs classes.
constexpr uint8_t FS_BOOT = 0;
constexpr uint8_t FS_OTHER_BOOT = 1;
constexpr uint8_t FS_NO_SIGNATURE = 2;
constexpr uint8_t FS_READ_FAILED = 3;

// "FA", the start of "FAT" in a boot record's file-system type field.
constexpr uint16_t FSTYPE_FA = 'F' | 'A' << 8;

} // namespace

uint8_t check_fs(uint8_t* buf, uint32_t sect) {
    if (disk_readp(buf, sect, BS_SIGNATURE, 2) != RES_OK) {
        return FS_READ_FAILED;
    }
    if (ld_aligned_word(buf) != 0xAA55) {
        return FS_NO_SIGNATURE;
    }
    // The FAT12/16 marker, then the FAT32 one. A failed read of the first is
    // not a verdict: the other may still answer.
    for (uint32_t field = BS_FSTYPE_FAT16; field <= BS_FSTYPE_FAT32;
         field += BS_FSTYPE_FAT32 - BS_FSTYPE_FAT16) {
        if (disk_readp(buf, sect, field, 2) == RES_OK && ld_aligned_word(buf) == FSTYPE_FA) {
            return FS_BOOT;
        }
    }
    return FS_OTHER_BOOT;
}

FRESULT pf_mount(FATFS* fs) {
    uint8_t* const buf = scratch_of(fs)->bpb;
    static_assert(sizeof(FatScratch::bpb) == BPB_SIZE);
    uint32_t bsect = 0;

    // Whatever happens below, the previous card's volume and open file are gone.
    fs->fs_type = FS_NONE;
    fs->flag = 0;

    if (disk_initialize() & STA_NOINIT) {
        return FR_NOT_READY;
    }
    uint8_t fmt = check_fs(buf, bsect);
    if (fmt == FS_OTHER_BOOT) {
        // Sector 0 is a master boot record: only its first entry is looked at.
        if (disk_readp(buf, bsect, MBR_FIRST_ENTRY, 16) != RES_OK) {
            return FR_DISK_ERR;
        }
        if (buf[PTE_TYPE] == 0) {
            return FR_NO_FILESYSTEM;
        }
        bsect = ld_aligned_dword(buf + PTE_START);
        fmt = check_fs(buf, bsect);
    }
    if (fmt == FS_READ_FAILED) {
        return FR_DISK_ERR;
    }
    if (fmt != FS_BOOT) {
        return FR_NO_FILESYSTEM;
    }
    if (disk_readp(buf, bsect, BPB_OFFSET, BPB_SIZE) != RES_OK) {
        return FR_DISK_ERR;
    }

    // The sector-in-cluster masks need a power of two.
    const uint8_t csize = buf[BPB_SEC_PER_CLUS];
    if (csize == 0 || (csize & (csize - 1)) != 0) {
        return FR_NO_FILESYSTEM;
    }
    // Only a FAT32 boot record leaves the 16-bit FAT size 0.
    const bool fat32 = ld_aligned_word(buf + BPB_FAT_SZ16) == 0;
    const uint32_t fatsz = fat32 ? ld_aligned_dword(buf + BPB_FAT_SZ32) : ld_aligned_word(buf + BPB_FAT_SZ16);
    const uint32_t nfats = buf[BPB_NUM_FATS];
    uint32_t tsect = ld_word(buf + BPB_TOT_SEC16);
    if (tsect == 0) {
        tsect = ld_aligned_dword(buf + BPB_TOT_SEC32);
    }
    const uint32_t rsvd = ld_aligned_word(buf + BPB_RSVD_SEC_CNT);
    // The boot record itself is the first reserved sector: a FAT at the
    // volume's first sector would be read, and grown, over it.
    if (rsvd == 0) {
        return FR_NO_FILESYSTEM;
    }
    const uint16_t n_rootdir = ld_word(buf + BPB_ROOT_ENT_CNT);
    const uint32_t rootsects = (n_rootdir + ENTRIES_PER_SECTOR - 1) / ENTRIES_PER_SECTOR;

    // Every sector of the volume must have a 32-bit number: past that, sector
    // arithmetic would wrap onto the card's first sectors.
    if (tsect > ~bsect) {
        return FR_NO_FILESYSTEM;
    }
    // The system area must fit in the volume; checked piecewise so that no sum wraps.
    if (nfats == 0 || fatsz > tsect / nfats) {
        return FR_NO_FILESYSTEM;
    }
    const uint32_t fsize = fatsz * nfats;
    if (rsvd + rootsects > tsect - fsize) {
        return FR_NO_FILESYSTEM;
    }
    const uint32_t n_fatent = (tsect - fsize - rsvd - rootsects) / csize + 2;
    uint8_t fs_type = FS_FAT12;
    if (n_fatent >= 0xFF7) {
        fs_type = FS_FAT16;
    }
    if (n_fatent >= 0xFFF7) {
        fs_type = FS_FAT32;
    }
    // A volume made in one layout whose cluster count implies another would
    // have every chain misread, and writes along them would land in other
    // files. The root entry count is 0 exactly on FAT32: a FAT12/16 volume
    // without one would have its data area begin on its root directory, a
    // FAT32 one with one would have it begin past its first clusters.
    if ((fs_type == FS_FAT32) != fat32 || (n_rootdir == 0) != fat32) {
        return FR_NO_FILESYSTEM;
    }
    // The FAT must hold an entry for every cluster, or chains would be read
    // from the sectors after it. A FAT32 entry has 28 bits, which also keeps
    // the entries' byte offsets within 32 bits.
    if (n_fatent > FAT32_MAX_ENTRIES ||
        (fat_offset(fs_type, n_fatent) + SECTOR_SIZE - 1) / SECTOR_SIZE > fatsz) {
        return FR_NO_FILESYSTEM;
    }

    fs->csize = csize;
    fs->n_rootdir = n_rootdir;
    fs->n_fatent = n_fatent;
    fs->fatbase = bsect + rsvd;
    fs->database = fs->fatbase + fsize + rootsects;
    fs->dirbase = fat32 ? ld_aligned_dword(buf + BPB_ROOT_CLUS) : fs->fatbase + fsize;
#if SDCARD_IMAGE == SDCARD_IMAGE_GROWING
    fs->n_fats = static_cast<uint8_t>(nfats);
    fs->fat_size = fatsz;
    // FSInfo, whose free count follows the FAT's changes: a sector of the
    // reserved area after the boot record, or none.
    const uint32_t fsinfo = buf[BPB_FSINFO];
    fs->fsinfo = fat32 && fsinfo != 0 && fsinfo < rsvd ? bsect + fsinfo : 0;
#endif
    fs->fs_type = fs_type;
    return FR_OK;
}
