// The module's console messages as one block of text, message n after the
// terminators of the n - 1 before it, in FRESULT order from code 1: the
// module prints them (errstring.cpp, which checks the order at build time),
// and the bench's tools name result codes with the same words.
#pragma once

// Every image's messages, codes 1 to FR_NO_FILESYSTEM.
#define SDCARD_MESSAGES                                                                                      \
    "Disk Error\r\n\0"                                                                                       \
    "Not Ready\r\n\0"                                                                                        \
    "No File\r\n\0"                                                                                          \
    "Not Opened\r\n\0"                                                                                       \
    "Not Enabled\r\n\0"                                                                                      \
    "No File System\r\n"

// Those of the growing image besides, codes FR_CARD_FULL to FR_INVALID_NAME.
#define SDCARD_GROWING_MESSAGES                                                                              \
    "\0"                                                                                                     \
    "Card Full\r\n\0"                                                                                        \
    "Directory Full\r\n\0"                                                                                   \
    "Access Denied\r\n\0"                                                                                    \
    "Invalid Name\r\n"
