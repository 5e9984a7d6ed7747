#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace quarn::py {

/// The change, snapshot, navigation and statistics methods of `PyTrace`
/// (changed_at, changed_at_scope, transitions, snapshot, snapshot_scope,
/// signal_stats, local_scopes, local_signals, resolve, find_signals_glob,
/// find_signals_containing), ending with a null entry.
extern PyMethodDef py_trace_change_methods[];

}  // namespace quarn::py
