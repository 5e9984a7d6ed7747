#include "fst_guard.h"

#include <setjmp.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include "fstapi.h"
#include "fst_exit_redirect.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUARN_FST_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define QUARN_FST_ASAN 1
#endif

#if defined(QUARN_FST_ASAN)
#include <sanitizer/lsan_interface.h>
/* A call cut short by the exit guard leaks the library's own buffers; that
 * is accepted, so the leak checker must not count them. */
#define QUARN_LSAN_OFF() __lsan_disable()
#define QUARN_LSAN_ON() __lsan_enable()
#else
#define QUARN_LSAN_OFF() ((void)0)
#define QUARN_LSAN_ON() ((void)0)
#endif

/* Innermost active guard of this thread; NULL outside library calls. */
static _Thread_local jmp_buf* active_guard;

void quarn_fst_exit(int status) {
  (void)status;
  if (active_guard) longjmp(*active_guard, 1);
  abort(); /* the library ran outside a guard: our bug, not the file's */
}

int quarn_fst_fprintf(FILE* stream, const char* format, ...) {
  if (stream == stderr) return 0;
  va_list args;
  va_start(args, format);
  const int n = vfprintf(stream, format, args);
  va_end(args);
  return n;
}

/* Runs body with exit() redirected here and sets done to 1 when body
 * completed; done stays 0 when the library tried to exit. */
#define GUARDED(done, body)             \
  do {                                  \
    jmp_buf guard;                      \
    jmp_buf* outer = active_guard;      \
    QUARN_LSAN_OFF();                   \
    if (setjmp(guard) == 0) {           \
      active_guard = &guard;            \
      body;                             \
      done = 1;                         \
    }                                   \
    active_guard = outer;               \
    QUARN_LSAN_ON();                    \
  } while (0)

int quarn_fst_open(const char* path, void** ctx) {
  volatile int done = 0;
  *ctx = NULL;
  GUARDED(done, *ctx = fstReaderOpen(path));
  return done;
}

int quarn_fst_hier_rewind(void* ctx, int* ok) {
  volatile int done = 0;
  *ok = 0;
  GUARDED(done, *ok = fstReaderIterateHierRewind(ctx));
  return done;
}

int quarn_fst_hier_next(void* ctx, struct fstHier** entry) {
  volatile int done = 0;
  *entry = NULL;
  GUARDED(done, *entry = fstReaderIterateHier(ctx));
  return done;
}

int quarn_fst_iter_blocks(void* ctx, quarn_fst_value_cb on_value, quarn_fst_varlen_cb on_varlen, void* user,
                          int* ok) {
  volatile int done = 0;
  *ok = 0;
  GUARDED(done, {
    fstReaderSetFacProcessMaskAll(ctx);
    fstReaderIterBlocksSetNativeDoublesOnCallback(ctx, 1);
    *ok = fstReaderIterBlocks2(ctx, on_value, on_varlen, user, NULL);
  });
  return done;
}

void quarn_fst_close(void* ctx) {
  volatile int done = 0;
  if (!ctx) return;
  /* Closing frees only the context's own buffers and files, which stay
   * consistent when a block walk was cut short. */
  GUARDED(done, fstReaderClose(ctx));
  (void)done;
}
