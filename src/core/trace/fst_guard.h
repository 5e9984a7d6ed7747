/* Calls into the FST library behind a guard: when the library gives up on
 * corrupt input by calling exit(), control comes back here instead and the
 * call reports failure. C, so no C++ frame sits between a longjmp and its
 * setjmp. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct fstHier;

typedef void (*quarn_fst_value_cb)(void* user, uint64_t time, uint32_t handle, const unsigned char* value);
typedef void (*quarn_fst_varlen_cb)(void* user, uint64_t time, uint32_t handle, const unsigned char* value,
                                    uint32_t len);

/* Each returns 1 when the library returned normally and 0 when it tried to
 * exit. A context that tried to exit is closed as far as is safe. */

/* *ctx is the reader or NULL when the library refused the file. */
int quarn_fst_open(const char* path, void** ctx);
/* *ok is the library's answer. */
int quarn_fst_hier_rewind(void* ctx, int* ok);
/* *entry is the next entry or NULL at the end. */
int quarn_fst_hier_next(void* ctx, struct fstHier** entry);
/* Delivers every value change of every signal; doubles as 8 native bytes. */
int quarn_fst_iter_blocks(void* ctx, quarn_fst_value_cb on_value, quarn_fst_varlen_cb on_varlen, void* user,
                          int* ok);
void quarn_fst_close(void* ctx);

#ifdef __cplusplus
}
#endif
