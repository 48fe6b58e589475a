#include "errstring.h"

#include "host.h"
#include "image_features.h"
#include "messages.h"
#include "state.h"

namespace {

// One block of text so that a single load offset reaches every message
// (messages.h); the checks after it hold the build to one message per code,
// in FRESULT order, with none left out. A table of pointers would be constant
// data holding addresses, which the image may not have.
#if SDCARD_IMAGE == SDCARD_IMAGE_GROWING
constexpr char kMessages[] = SDCARD_MESSAGES SDCARD_GROWING_MESSAGES;
constexpr uint8_t LAST_MESSAGE = FR_INVALID_NAME;
#else
constexpr char kMessages[] = SDCARD_MESSAGES;
constexpr uint8_t LAST_MESSAGE = FR_NO_FILESYSTEM;
#endif

// Whether message `code`, found as errstring finds it, is `text`.
constexpr bool message_is(uint8_t code, const char* text) {
    const char* message = kMessages;
    for (uint32_t skip = code; --skip != 0;) {
        while (*message++ != 0) {
        }
    }
    while (*text != 0 && *message == *text) {
        message++;
        text++;
    }
    return *text == 0 && *message == 0;
}

constexpr uint32_t terminators() {
    uint32_t count = 0;
    for (const char c : kMessages) {
        count += c == 0 ? 1 : 0;
    }
    return count;
}

// One message per code, in FRESULT order: the array's own terminator closes the last.
static_assert(terminators() == LAST_MESSAGE);
static_assert(message_is(FR_DISK_ERR, "Disk Error\r\n") && message_is(FR_NOT_READY, "Not Ready\r\n") &&
              message_is(FR_NO_FILE, "No File\r\n") && message_is(FR_NOT_OPENED, "Not Opened\r\n") &&
              message_is(FR_NOT_ENABLED, "Not Enabled\r\n") &&
              message_is(FR_NO_FILESYSTEM, "No File System\r\n"));
#if SDCARD_IMAGE == SDCARD_IMAGE_GROWING
static_assert(message_is(FR_CARD_FULL, "Card Full\r\n") && message_is(FR_DIR_FULL, "Directory Full\r\n") &&
              message_is(FR_DENIED, "Access Denied\r\n") && message_is(FR_INVALID_NAME, "Invalid Name\r\n"));
#endif

// The call of getFPC must return to a point whose link-time address is known
// exactly, so it is made from assembly with a label right after the call.
MIPS32_CODE inline uint32_t load_offset() {
    volatile uint32_t libAddr; // set by getFPC before its first read
#if defined(__mips__)
    // The third argument is put in place by the compiler, so it needs no
    // register kept across the call.
    register volatile uint32_t* c asm("$6") = &libAddr;
    asm volatile(".set push\n\t"
                 ".set noreorder\n\t"
                 "move $a0, $zero\n\t"
                 "la $a1, 1f\n\t"
                 "bal getFPC\n\t"
                 " nop\n"
                 "1:\n\t"
                 ".set pop"
                 : "+r"(c)
                 :
                 : "a0", "a1", "a3", "v0", "v1", "t0", "t1", "t2", "t3", "t4", "t5", "t6", "t7", "t8", "t9",
                   "ra", "memory");
#elif defined(__x86_64__)
    // Realigns the stack for the call and keeps clear of the red zone.
    asm volatile("mov %%rsp, %%rbx\n\t"
                 "sub $128, %%rsp\n\t"
                 "and $-16, %%rsp\n\t"
                 "xor %%edi, %%edi\n\t"
                 "lea 1f(%%rip), %%rsi\n\t"
                 "mov %0, %%rdx\n\t"
                 "call getFPC\n"
                 "1:\n\t"
                 "mov %%rbx, %%rsp"
                 :
                 : "r"(&libAddr)
                 : "rax", "rbx", "rcx", "rdx", "rsi", "rdi", "r8", "r9", "r10", "r11", "memory", "cc", "xmm0",
                   "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9", "xmm10", "xmm11",
                   "xmm12", "xmm13", "xmm14", "xmm15");
#else
#error "no way to locate the return point of getFPC on this CPU"
#endif
    return libAddr;
}

// The messages where the module runs. In the 32-bit instruction set, like
// the call of getFPC: the link-time address of the messages is then formed by
// a lui/addiu pair in the function that takes the load offset, which the
// post-link step can check, rather than read from a MIPS16 constant pool.
[[gnu::noinline]] MIPS32_CODE const char* messages() {
    return reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(kMessages) + load_offset());
}

} // namespace

#if defined(__mips__)
// Written out for the chip: the return address is taken from ra as the call
// left it, so the function needs no frame and no saved register.
asm(".pushsection .text.getFPC, \"ax\", @progbits\n\t"
    ".align 2\n\t"
    ".globl getFPC\n\t"
    ".type getFPC, @function\n\t"
    ".set push\n\t"
    ".set nomips16\n\t"
    ".set noreorder\n"
    "getFPC:\n\t"
    "subu $a0, $a0, $a1\n\t"
    "addu $a0, $a0, $ra\n\t"
    "jr $ra\n\t"
    " sw $a0, 0($a2)\n\t"
    ".set pop\n\t"
    ".size getFPC, . - getFPC\n\t"
    ".popsection");
#else
extern "C" __attribute__((noinline, used)) void getFPC(uintptr_t a, uintptr_t b, volatile uint32_t* c) {
    *c = static_cast<uint32_t>(
        reinterpret_cast<uintptr_t>(__builtin_extract_return_addr(__builtin_return_address(0))) + a - b);
}
#endif

void errstring(uint8_t a) {
    // Unknown codes print nothing rather than text from an address never set.
    if (a == FR_OK || a > LAST_MESSAGE) {
        return;
    }
    // The status command tells the first failed step of a command.
    uint8_t* const last = &state_block()->last_result;
    if (*last == FR_OK) {
        *last = a;
    }
    // Message a starts after the terminators of the a - 1 before it.
    const char* text = messages();
    for (uint32_t skip = a; --skip != 0;) {
        while (*text++ != 0) {
        }
    }
    host_print(text);
}
