// libc++ includes <xlocale.h> on Apple targets and calls the BSD C library's
// locale functions. glibc keeps locale_t in <locale.h> and lacks a few of
// them; these are their Darwin declarations, for the type-check only.
#pragma once

#include <ctype.h>
#include <locale.h>
#include <stddef.h>

#ifndef LC_C_LOCALE
#define LC_C_LOCALE ((locale_t)0)
#endif
// glibc's macros dereference the locale; Darwin's are functions.
#undef isdigit_l
#undef isxdigit_l

#ifdef __cplusplus
extern "C" {
#endif
int sscanf_l(const char* str, locale_t loc, const char* format, ...);
int snprintf_l(char* str, size_t size, locale_t loc, const char* format, ...);
int asprintf_l(char** ret, locale_t loc, const char* format, ...);
#ifdef __cplusplus
}
#endif
