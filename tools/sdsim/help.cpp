#include "help.h"

namespace sdsim {

std::string help_text() {
    return R"(usage: sdsim [--card IMAGE] [--kind sdhc|sdsc|sdv1|mmc] [--package 28|44] [--target]
             COMMAND [ARGS]

Runs the SD card module on the virtual board, one module call per step, as an
interpreted program on the chip would, with a card image in the socket.

Commands:
  ls [DIR]              MODE_OPENDIR, then MODE_READDIR until the end; one entry
                        per line as the module returns it ("<Dir>DATA", "README.TXT").
                        No DIR or "/" lists the root directory.
  cat FILE              MODE_OPEN, then raw MODE_READs of 512 bytes from the
                        running position; the bytes go to stdout.
  read FILE POS COUNT   MODE_OPEN and one MODE_READ of COUNT bytes at POS (-1: from
                        the running position); the bytes go to stdout.
  write FILE POS        MODE_OPEN and one MODE_WRITE of all bytes from stdin at POS
                        (-1: at the running write position); prints the position used.
                        Files are written in place: they never grow, and a
                        write at or past the end writes nothing. The rest of
                        the last 512-byte sector written becomes 0, unless the
                        write begins inside a sector and ends in that sector.
  load FILE             MODE_LOAD; prints the text the host received.
  save FILE [TEXTFILE]  the lines of TEXTFILE (or stdin) become the host's stored
                        program, then MODE_SAVE writes it into FILE, which must
                        already exist and be long enough.
  run SCRIPT            several calls on one card in one process ("-": the script
                        from stdin), one a line, printing one result line per call:
                          setcs PIN         MODE_SET_CS
                          open NAME         MODE_OPEN
                          read POS COUNT    MODE_READ
                          write POS TEXT    MODE_WRITE of TEXT, the rest of the line
                                            (escapes \r \n \t \0 \\ \xHH)
                          opendir [NAME]    MODE_OPENDIR
                          readdir           MODE_READDIR
                          load NAME         MODE_LOAD
                          save NAME         MODE_SAVE of the host's stored program
                          call MODE         any command number, empty arguments
                        Blank lines and lines starting with # are skipped. Each
                        result line reads "STEP -> RESULT", with " ! MESSAGES" when
                        the module printed something during the call.
  Paths are 8.3 names from the root, e.g. DATA/NUMS.TXT; the module takes at
  most 14 characters and answers "No File" to a longer name. A single read or
  write moves at most 4096 bytes (the argument buffer).

Options:
  --card IMAGE          the card image (a FAT volume, whole or partitioned);
                        writes go into the file. Without it, the demo card is
                        used, created on first use with mkfs.fat and mcopy at
                        $SDSIM_DEMO_CARD, else $XDG_CACHE_HOME/sdsim/demo.img,
                        else ~/.cache/sdsim/demo.img (delete it to start afresh).
  --kind KIND           the card in the socket: sdhc (SD version 2, block
                        addressed; the default), sdsc (SD version 2, byte
                        addressed), sdv1 (SD version 1) or mmc.
  --package 28|44       the chip's package, which decides the card-bus pins
                        (default 28). The card's chip select is wired to pin 4,
                        which the host's options already name.
  --target              run the chip image in the emulator instead of the
                        module's native build.
  -h, --help            this text.

The module's console messages go to stderr exactly as printed.

Exit status:
  0  the module printed nothing
  1  the module printed at least one message
  2  usage error, or a problem with the tool's own input (missing image,
     unreadable script or text file), reported in one line on stderr
)";
}

} // namespace sdsim
