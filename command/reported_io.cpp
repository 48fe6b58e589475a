// The open file's seek, read and write as the commands use them: each reports
// its result on the console at once. One call site each keeps the argument
// set-up and the report out of every command that moves bytes.
#include "commands.h"
#include "errstring.h"

[[gnu::noinline]] void seek_reported(FATFS* fs, uint32_t pos) { errstring(pf_lseek(fs, pos)); }

// Reads and writes share one call: the direction is a register argument.
[[gnu::noinline]] uint32_t move_reported(FATFS* fs, uint8_t* p, uint32_t count, Transfer direction) {
    errstring(transfer(fs, p, count, direction));
    return scratch_of(fs)->moved;
}
