#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>
#include <string>

namespace quarn {
class Trace;
}

namespace quarn::py {

/// A Python `PyTrace`: shared ownership of one loaded, immutable trace.
struct PyTraceObject {
  PyObject_HEAD
  std::shared_ptr<const Trace> trace;
  std::string format;  // "vcd", "fst", ... for repr
  std::string source;  // the path, or "<string>"
};

/// The receiver's trace, or null with TypeError set.
const Trace* trace_of(PyObject* self);

/// Creates the `PyTrace` type for `module`; a new reference, or null.
PyObject* register_py_trace(PyObject* module);

/// True when `obj` is a `PyTrace` (from any module instance).
bool py_trace_check(PyObject* obj);

}  // namespace quarn::py
