#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>

namespace quarn {
struct Expr;
}

namespace quarn::py {

/// A Python `PyExpr`: one immutable expression tree, never null.
struct PyExprObject {
  PyObject_HEAD
  std::shared_ptr<const Expr> expr;
};

/// Creates the `PyExpr` type for `module`; a new reference, or null.
PyObject* register_py_expr(PyObject* module);

/// True when `obj` is a `PyExpr` (from any module instance).
bool py_expr_check(PyObject* obj);

}  // namespace quarn::py
