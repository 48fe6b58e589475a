// Rules the module's code relies on but cannot show in its types, checked
// where they are relied on. On the chip a check costs nothing: the condition
// is not even evaluated. In the PC build (tests, fuzzers, sdsim) a broken
// rule stops the program with the condition and where it failed, through the
// board the module is bound to (sim/native_cpu.cpp), so the module itself
// still calls no library.
#pragma once

#if defined(__mips__)

#define MODULE_ASSERT(condition) static_cast<void>(sizeof(!(condition)))

#else

extern "C" [[noreturn]] void module_assert_failed(const char* condition, const char* file, int line);

#define MODULE_ASSERT(condition)                                                                             \
    ((condition) ? static_cast<void>(0) : module_assert_failed(#condition, __FILE__, __LINE__))

#endif
