// The command steps that the entry point runs, one unit per family.
#pragma once

#include <stdint.h>

#include "host.h"
#include "state.h"
#include "transfer.h"

// Length byte of a call that names nothing: above FN_MAX_NAME, so no name fits.
constexpr uint8_t NO_NAME = 0xFF;

// Copies the counted string at p1 into the name buffer without ever writing past it.
void build_name(NameBuffer& name, const uint8_t* p1);

// Pins, peripheral pin select, SPI2, append position, mount.
void bus_setup(STATE_BLOCK* sb);

// Opens the named file and reports the result; a name too long for the buffer
// opens nothing and leaves no file open.
void open_named_file(STATE_BLOCK* sb, const NameBuffer& name);

// The open file's seek, read and write, each reporting its result; read and
// write return the bytes moved. A write of no bytes from null finishes the sector.
void seek_reported(FATFS* fs, uint32_t pos);
// Where the data of a read or write lies: after the length byte of a counted
// string (a count below 256), else at p1 itself.
const uint8_t* data_of(const uint8_t* p1, int32_t count);
// Writes `count` bytes from `s` at `pos` of the open file (no further than its
// end), keeping every byte outside them, and finishes the last sector. With
// `repeat` the 512 bytes at `s` go into every sector (to fill with zeros).
void write_span(FATFS* fs, uint32_t pos, const uint8_t* s, uint32_t count, bool repeat);
uint32_t move_reported(FATFS* fs, uint8_t* p, uint32_t count, Transfer direction);
inline uint32_t read_reported(FATFS* fs, uint8_t* to, uint32_t count) {
    return move_reported(fs, to, count, Transfer::Read);
}
inline uint32_t write_reported(FATFS* fs, const uint8_t* from, uint32_t count) {
    // The bytes are only read: the shared loop takes one pointer type for both directions.
    return move_reported(fs, const_cast<uint8_t*>(from), count, Transfer::Write);
}

// The 512 bytes a growing file's FAT and directory sectors pass through.
inline uint8_t* lent_block() { return host_alloc(SECTOR_SIZE); }

void mode_set_cs(const uint8_t* p1);
// The open file's pointer (p2) and size (p3), -1 for both when no file is
// open; the result of the last command (p4): 0, or the code of its first
// failed step; the commands this image has, bit n for command n (p1, as a
// 32-bit integer).
void mode_status(const STATE_BLOCK* sb, uint8_t* p1, int32_t* p2, int32_t* p3, int32_t* p4);
void mode_read(STATE_BLOCK* sb, uint8_t* p1, int32_t* p2, int32_t* p3, int32_t* p4);
// Writes in place (MODE_WRITE), and where files grow, appends (MODE_APPEND)
// and sets the size (MODE_SET_SIZE, *p2 bytes; bytes the file gains read as
// zero). The three end in the image's one call of write_span: inlined into
// the entry point, whose frame then carries its loop, it adds no frame to
// the deepest chain of calls under a write.
void mode_write(STATE_BLOCK* sb, uint8_t* p1, int32_t* p2, int32_t* p3, int32_t command);
void mode_opendir(STATE_BLOCK* sb, const NameBuffer& name);
void mode_readdir(STATE_BLOCK* sb, uint8_t* p1);
// Load and save work on the file that the entry point has opened after the bus set-up.
void mode_load(STATE_BLOCK* sb);
void mode_save(STATE_BLOCK* sb);

// Only in the image that creates and grows files (grow_commands.cpp).
// Opens the named file, first making it as an empty file when it does not
// exist; its entry is made at once with `commit`, else by the save that follows.
void open_or_create(STATE_BLOCK* sb, const NameBuffer& name, bool commit);
// Removes the named file: never a directory or a read-only file.
void delete_named(STATE_BLOCK* sb, const NameBuffer& name);
// Writes a save's text at the file pointer, the file growing as it needs.
void save_growing(FATFS* fs, const uint8_t* text, uint32_t count, uint8_t* block);
