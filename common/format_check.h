// SPDX-License-Identifier: MIT
// The compiler's check of printf-style arguments. mingw-w64 formats with its own C99 printf
// (%zu, %lld) in C++, but the compiler takes plain "printf" there to mean Microsoft's older one:
// the checked dialect is named outright.
#pragma once

#if defined(__MINGW32__)
#define ZOQ_PRINTF_FORMAT(fmt, first) __attribute__((format(gnu_printf, fmt, first)))
#else
#define ZOQ_PRINTF_FORMAT(fmt, first) __attribute__((format(printf, fmt, first)))
#endif
