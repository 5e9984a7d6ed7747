#include "py_args.h"

#include <algorithm>
#include <limits>
#include <string>

#include "py_expr.h"
#include "py_ref.h"

namespace quarn::py {
namespace {

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'", as the interpreter lists them.
std::string quoted_list(const std::vector<const char*>& names) {
  std::string s;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) s += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
    s += '\'';
    s += names[i];
    s += '\'';
  }
  return s;
}

PyObject* type_name(PyObject* obj) { return PyType_GetName(Py_TYPE(obj)); }

// TypeError "argument '{name}': '{type}' object is not an instance of '{what}'".
bool raise_wrong_type(PyObject* obj, const char* name, const char* what) {
  PyRef tname(type_name(obj));
  if (!tname) return false;
  PyErr_Format(PyExc_TypeError, "argument '%s': '%U' object is not an instance of '%s'", name, tname.get(), what);
  return false;
}

// Prefixes a pending TypeError's text with "argument '{name}': "; leaves any
// other exception unchanged.
bool prefix_type_error(const char* name) {
  if (!PyErr_ExceptionMatches(PyExc_TypeError)) return false;
#if PY_VERSION_HEX >= 0x030C0000
  PyRef value(PyErr_GetRaisedException());
#else
  PyObject* type = nullptr;
  PyObject* raw = nullptr;
  PyObject* tb = nullptr;
  PyErr_Fetch(&type, &raw, &tb);
  PyErr_NormalizeException(&type, &raw, &tb);
  Py_XDECREF(type);
  Py_XDECREF(tb);
  PyRef value(raw);
#endif
  PyRef text(value ? PyObject_Str(value.get()) : PyUnicode_FromString(""));
  if (!text) return false;
  PyErr_Format(PyExc_TypeError, "argument '%s': %U", name, text.get());
  return false;
}

// PyNumber_Index with the converters' TypeError wording.
PyRef index_of(PyObject* obj, const char* name) {
  PyRef i(PyNumber_Index(obj));
  if (!i) prefix_type_error(name);
  return i;
}

}  // namespace

bool bind_args(const char* function, const char* const* names, std::size_t count, std::size_t required,
               PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out,
               std::size_t keyword_only) {
  const Py_ssize_t declared = static_cast<Py_ssize_t>(count - keyword_only);  // positional ones
  for (std::size_t i = 0; i < count; ++i)
    out[i] = static_cast<Py_ssize_t>(i) < std::min(nargs, declared) ? args[i] : nullptr;

  // Keywords first, then the positional count, then what is missing: the
  // order in which the interpreter reports a Python function's bad call.
  const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, k);
    Py_ssize_t slot = -1;
    for (Py_ssize_t i = 0; i < static_cast<Py_ssize_t>(count); ++i) {
      if (PyUnicode_CompareWithASCIIString(key, names[i]) == 0) {
        slot = i;
        break;
      }
    }
    if (slot < 0) {
      PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", function, key);
      return false;
    }
    if (out[slot] != nullptr) {
      PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", function, names[slot]);
      return false;
    }
    out[slot] = args[nargs + k];
  }

  if (nargs > declared) {
    PyErr_Format(PyExc_TypeError, "%s() takes %zd positional argument%s but %zd %s given", function, declared,
                 declared == 1 ? "" : "s", nargs, nargs == 1 ? "was" : "were");
    return false;
  }

  std::vector<const char*> missing;
  for (std::size_t i = 0; i < required; ++i)
    if (out[i] == nullptr) missing.push_back(names[i]);
  if (!missing.empty()) {
    const std::string list = quoted_list(missing);
    PyErr_Format(PyExc_TypeError, "%s() missing %zu required positional argument%s: %s", function, missing.size(),
                 missing.size() == 1 ? "" : "s", list.c_str());
    return false;
  }
  return true;
}

bool arg_str(PyObject* obj, const char* name, std::string_view& out) {
  if (!PyUnicode_Check(obj)) return raise_wrong_type(obj, name, "str");
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(obj, &size);
  if (data == nullptr) return false;
  out = std::string_view(data, static_cast<std::size_t>(size));
  return true;
}

bool arg_u64(PyObject* obj, const char* name, std::uint64_t& out) {
  PyRef i = index_of(obj, name);
  if (!i) return false;
  const unsigned long long v = PyLong_AsUnsignedLongLong(i.get());
  if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
  out = v;
  return true;
}

bool arg_u32(PyObject* obj, const char* name, std::uint32_t& out) {
  PyRef i = index_of(obj, name);
  if (!i) return false;
  const long long v = PyLong_AsLongLong(i.get());
  if (v == -1 && PyErr_Occurred()) return false;
  if (v < 0 || v > static_cast<long long>(std::numeric_limits<std::uint32_t>::max())) {
    PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
    return false;
  }
  out = static_cast<std::uint32_t>(v);
  return true;
}

bool arg_i64(PyObject* obj, const char* name, std::int64_t& out) {
  PyRef i = index_of(obj, name);
  if (!i) return false;
  const long long v = PyLong_AsLongLong(i.get());
  if (v == -1 && PyErr_Occurred()) return false;
  out = v;
  return true;
}

bool arg_bool(PyObject* obj, const char* name, bool& out) {
  if (obj == nullptr) return true;
  if (!PyBool_Check(obj)) return raise_wrong_type(obj, name, "bool");
  out = obj == Py_True;
  return true;
}

bool arg_f64(PyObject* obj, const char* name, double& out) {
  const double v = PyFloat_AsDouble(obj);
  if (v == -1.0 && PyErr_Occurred()) return prefix_type_error(name);
  out = v;
  return true;
}

bool arg_expr(PyObject* obj, const char* name, PyExprObject*& out) {
  if (obj == Py_None) {
    PyErr_Format(PyExc_TypeError, "argument '%s': 'None' is not an instance of 'PyExpr'", name);
    return false;
  }
  if (!py_expr_check(obj)) return raise_wrong_type(obj, name, "PyExpr");
  out = reinterpret_cast<PyExprObject*>(obj);
  return true;
}

bool arg_str_list(PyObject* obj, const char* name, std::vector<std::string>& out) {
  if (PyUnicode_Check(obj)) {
    PyErr_Format(PyExc_TypeError, "argument '%s': Can't extract `str` to `Vec`", name);
    return false;
  }
  if (!PySequence_Check(obj)) return raise_wrong_type(obj, name, "Sequence");
  const Py_ssize_t n = PySequence_Size(obj);
  if (n < 0) return false;
  std::vector<std::string> items;
  items.reserve(static_cast<std::size_t>(n));
  for (Py_ssize_t k = 0; k < n; ++k) {
    PyRef item(PySequence_GetItem(obj, k));
    if (!item) return false;
    std::string_view s;
    if (!arg_str(item.get(), name, s)) return false;
    items.emplace_back(s);
  }
  out = std::move(items);
  return true;
}

bool arg_path(PyObject* obj, const char* name, std::string& out) {
  if (!PyUnicode_Check(obj) && !PyBytes_Check(obj) && PyObject_HasAttrString(obj, "__fspath__")) {
    PyRef fs(PyOS_FSPath(obj));
    if (!fs) return false;
    if (PyBytes_Check(fs.get())) {
      out.assign(PyBytes_AS_STRING(fs.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(fs.get())));
      return true;
    }
    return arg_path(fs.get(), name, out);
  }
  std::string_view view;
  if (!arg_str(obj, name, view)) return false;
  out.assign(view);
  return true;
}

bool arg_int_words(PyObject* obj, const char* name, std::vector<std::uint64_t>& out) {
  PyRef i = index_of(obj, name);
  if (!i) return false;
  int overflow = 0;
  const long long small = PyLong_AsLongLongAndOverflow(i.get(), &overflow);
  if (small == -1 && PyErr_Occurred()) return false;
  if (overflow == 0) {
    out.assign(1, static_cast<std::uint64_t>(small));
    return true;
  }
  // Wider than 64 bits with its sign: reduce modulo 2^(64 * words), then
  // take the words off the low end. Two's complement of a positive number
  // that fills its top word exactly needs no extra word: 2^64 - 1 is one word.
  PyRef bits(PyObject_CallMethod(i.get(), "bit_length", nullptr));
  if (!bits) return false;
  const Py_ssize_t bit_length = PyLong_AsSsize_t(bits.get());
  if (bit_length < 0) return false;
  const bool negative = overflow < 0;
  const std::size_t words = static_cast<std::size_t>((bit_length + (negative ? 1 : 0) + 63) / 64);
  PyRef one(PyLong_FromLong(1));
  PyRef width(PyLong_FromSize_t(64 * words));
  PyRef modulus(one && width ? PyNumber_Lshift(one.get(), width.get()) : nullptr);
  PyRef rest(modulus ? PyNumber_Remainder(i.get(), modulus.get()) : nullptr);
  PyRef shift(PyLong_FromLong(64));
  if (!rest || !shift) return false;
  std::vector<std::uint64_t> result;
  result.reserve(words);
  for (std::size_t k = 0; k < words; ++k) {
    const unsigned long long w = PyLong_AsUnsignedLongLongMask(rest.get());
    if (w == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    result.push_back(w);
    rest = PyRef(PyNumber_Rshift(rest.get(), shift.get()));
    if (!rest) return false;
  }
  out = std::move(result);
  return true;
}

PyObject* raise_not_instance(PyObject* obj, const char* class_name) {
  PyRef tname(type_name(obj));
  if (!tname) return nullptr;
  PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%s'", tname.get(), class_name);
  return nullptr;
}

}  // namespace quarn::py
