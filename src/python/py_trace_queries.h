#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace quarn::py {

/// The expression query methods of `PyTrace` (find, parallel_find,
/// parallel_count, eval_expr, eval_expr_bool, find_with_values), ending
/// with a null entry.
extern PyMethodDef py_trace_query_methods[];

}  // namespace quarn::py
