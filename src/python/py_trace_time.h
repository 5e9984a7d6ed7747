#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace quarn::py {

/// The time-axis methods of `PyTrace` (timescale, times, index_at, value_at,
/// window) and `sig`, ending with a null entry.
extern PyMethodDef py_trace_time_methods[];

/// The bulk methods of `PyTrace` (changes, values), ending with a null entry.
extern PyMethodDef py_trace_bulk_methods[];

/// to_pandas and plot, written in Python; ending with a null entry.
extern PyMethodDef py_trace_forward_methods[];

/// len(trace), name in trace, repr(trace).
Py_ssize_t py_trace_length(PyObject* self);
int py_trace_contains(PyObject* self, PyObject* name);
PyObject* py_trace_repr(PyObject* self);

}  // namespace quarn::py
