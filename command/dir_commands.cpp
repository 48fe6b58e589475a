// Listing a directory one entry per call, as counted strings.
#include "commands.h"
#include "errstring.h"
#include "unaligned.h"

namespace {

constexpr uint8_t ATTR_DIRECTORY = 0x10;
constexpr uint8_t ATTR_SKIPPED_ONCE = 0x16; // directory + system + hidden
constexpr uint32_t NAME_COPY_SIZE = 12;
constexpr uint32_t DIR_MARKER_LENGTH = 5;

// "<Dir>" written by code: a string constant would be read at its link address.
// The first four characters go as one little-endian word.

void write_dir_marker(uint8_t* to) {
    *reinterpret_cast<unaligned_u32*>(to) = '<' | 'D' << 8 | 'i' << 16 | 'r' << 24;
    to[4] = '>';
}

} // namespace

void mode_opendir(STATE_BLOCK* sb, const NameBuffer& name) {
    // A name too long for the buffer was never copied: looking it up as the
    // empty path would open the root directory instead.
    const FRESULT res = name.fits() ? pf_opendir(&sb->FatFs, &sb->DIRFS, name.path()) : FR_NO_FILE;
    errstring(res);
    if (res != FR_OK) {
        // A failed open leaves the walk where the search stopped, among the
        // entries of another directory; an ended listing returns none of them.
        sb->DIRFS.sect = 0;
    }
}

void mode_readdir(STATE_BLOCK* sb, uint8_t* p1) {
    FILINFO* const info = &sb->fileinfo;
    const FRESULT res = pf_readdir(&sb->FatFs, &sb->DIRFS, info);
    errstring(res);
    if (res == FR_NOT_ENABLED) {
        // No volume is mounted, so the entry kept from an earlier listing would
        // come back on every call and the listing would never end.
        return;
    }
    if (info->fattrib == ATTR_SKIPPED_ONCE) {
        errstring(pf_readdir(&sb->FatFs, &sb->DIRFS, info));
    }
    if (info->fname[0] == 0) {
        return;
    }
    uint8_t* name = p1 + 1;
    uint32_t length = mystrlen(info->fname);
    if ((info->fattrib & ATTR_DIRECTORY) != 0) {
        write_dir_marker(name);
        name += DIR_MARKER_LENGTH;
        length += DIR_MARKER_LENGTH;
    }
    for (uint32_t i = 0; i < NAME_COPY_SIZE; ++i) {
        name[i] = static_cast<uint8_t>(info->fname[i]);
    }
    p1[0] = static_cast<uint8_t>(length);
}
