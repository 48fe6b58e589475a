// The open file's seek, read and write as the commands use them: each reports
// its result on the console at once. One call site each keeps the argument
// set-up and the report out of every command that moves bytes.
#include "commands.h"
#include "errstring.h"

[[gnu::noinline]] void seek_reported(FATFS* fs, uint32_t pos) { errstring(pf_lseek(fs, pos)); }

[[gnu::noinline]] uint32_t read_reported(FATFS* fs, uint8_t* to, uint32_t count) {
    uint32_t done = 0;
    errstring(pf_read(fs, to, count, &done));
    return done;
}

[[gnu::noinline]] uint32_t write_reported(FATFS* fs, const uint8_t* from, uint32_t count) {
    uint32_t done = 0;
    errstring(pf_write(fs, from, count, &done));
    return done;
}
