#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace quarn::py {

/// Creates the `PyCycles` type for `module`; a new reference, or null.
PyObject* register_py_cycles(PyObject* module);

/// PyTrace.cycles, which hands its arguments to `quarn.cycles.make_cycles`.
extern PyMethodDef py_trace_cycle_methods[];

}  // namespace quarn::py
