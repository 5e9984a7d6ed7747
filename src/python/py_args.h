#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quarn::py {

struct PyExprObject;

/// A method's name and parameter names, as in its text signature.
template <std::size_t N>
struct Params {
  const char* function;
  std::array<const char*, N> names;
  /// The last `keyword_only` names are optional and keyword-only; their
  /// slots stay null when not given.
  std::size_t keyword_only = 0;
};

/// Binds fast-call arguments, given by position or keyword, to `out` (borrowed
/// references, one per parameter). Missing, surplus, repeated or unknown
/// arguments raise TypeError in the interpreter's wording; returns false then.
/// Only the first `required` parameters must be given; the others stay null
/// when absent. The last `keyword_only` parameters can't be given by position.
bool bind_args(const char* function, const char* const* names, std::size_t count, std::size_t required,
               PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out,
               std::size_t keyword_only = 0);

template <std::size_t N>
bool bind_args(const Params<N>& params, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
               std::array<PyObject*, N>& out) {
  return bind_args(params.function, params.names.data(), N, N - params.keyword_only, args, nargs, kwnames,
                   out.data(), params.keyword_only);
}

/// `bind_args` where parameters from `required` on may be left out (null).
template <std::size_t N>
bool bind_some_args(const Params<N>& params, std::size_t required, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, std::array<PyObject*, N>& out) {
  return bind_args(params.function, params.names.data(), N, required, args, nargs, kwnames, out.data(),
                   params.keyword_only);
}

// Converters: each returns false with the Python exception set when `obj`
// does not fit; `name` is the parameter name used in the message.

/// A str as UTF-8; the view lives as long as `obj`.
bool arg_str(PyObject* obj, const char* name, std::string_view& out);
/// True or False only; `obj` null (not given) leaves `out` unchanged.
bool arg_bool(PyObject* obj, const char* name, bool& out);
/// An int (or __index__ object) in 0 .. 2^64-1.
bool arg_u64(PyObject* obj, const char* name, std::uint64_t& out);
/// An int (or __index__ object) in 0 .. 2^32-1.
bool arg_u32(PyObject* obj, const char* name, std::uint32_t& out);
/// An int (or __index__ object) in the signed 64-bit range.
bool arg_i64(PyObject* obj, const char* name, std::int64_t& out);
/// Anything the interpreter turns into a float, ints included.
bool arg_f64(PyObject* obj, const char* name, double& out);
/// A PyExpr instance, borrowed.
bool arg_expr(PyObject* obj, const char* name, PyExprObject*& out);
/// A sequence of str other than a str itself.
bool arg_str_list(PyObject* obj, const char* name, std::vector<std::string>& out);

/// A file system path: a str, or an os.PathLike (pathlib.Path) giving str or
/// bytes. Anything else: the TypeError of `arg_str`.
bool arg_path(PyObject* obj, const char* name, std::string& out);
/// Any int as two's-complement 64-bit words, least significant first, in as
/// few words as hold it with its sign (so 2^64 - 1 needs one, -1 one, 2^64 two).
bool arg_int_words(PyObject* obj, const char* name, std::vector<std::uint64_t>& out);

/// TypeError "'{type}' object is not an instance of '{class_name}'" for a
/// receiver of the wrong type; returns null.
PyObject* raise_not_instance(PyObject* obj, const char* class_name);

}  // namespace quarn::py
