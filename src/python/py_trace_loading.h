#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace quarn::py {

/// The methods of `PyTrace` about decoding columns of a lazily opened trace
/// (load, loaded), ending with a null entry.
extern PyMethodDef py_trace_loading_methods[];

}  // namespace quarn::py
