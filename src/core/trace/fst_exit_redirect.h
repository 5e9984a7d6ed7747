/* Force-included into the FST library's fstapi.c: its exit() and its
 * messages to stderr on corrupt input must not reach the host process. */
#pragma once

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Returns to the innermost guard (fst_guard.c); never returns here. */
__attribute__((noreturn)) void quarn_fst_exit(int status);
/* fprintf that drops what goes to stderr. */
int quarn_fst_fprintf(FILE* stream, const char* format, ...);

#ifdef __cplusplus
}
#endif

#define exit(status) quarn_fst_exit(status)
#define fprintf quarn_fst_fprintf
