#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace quarn::py {

/// A Python `PyExpr`. It will own one expression tree once the builder
/// exists; for now it carries nothing.
struct PyExprObject {
  PyObject_HEAD
};

/// Creates the `PyExpr` type for `module`; a new reference, or null.
PyObject* register_py_expr(PyObject* module);

/// True when `obj` is a `PyExpr` (from any module instance).
bool py_expr_check(PyObject* obj);

}  // namespace quarn::py
