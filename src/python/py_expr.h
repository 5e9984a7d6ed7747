#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace quarn {
struct Expr;
}

namespace quarn::py {

/// Names of the signals an expression refers to, for its text form only.
using ExprNames = std::vector<std::pair<std::uint64_t, std::string>>;

/// A Python `PyExpr`: one immutable expression tree, never null, and the
/// names it was built with (null when it was built from ids alone).
struct PyExprObject {
  PyObject_HEAD
  std::shared_ptr<const Expr> expr;
  std::shared_ptr<const ExprNames> names;
};

/// A new `PyExpr` of `type` owning `expr`; null with an exception on failure.
PyObject* new_py_expr(PyTypeObject* type, std::shared_ptr<const Expr> expr,
                      std::shared_ptr<const ExprNames> names = nullptr);

/// Creates the `PyExpr` type for `module`; a new reference, or null.
PyObject* register_py_expr(PyObject* module);

/// True when `obj` is a `PyExpr` (from any module instance).
bool py_expr_check(PyObject* obj);

}  // namespace quarn::py
