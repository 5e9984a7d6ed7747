#include "py_trace_loading.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "eval/column_loading.h"
#include "py_args.h"
#include "py_convert.h"
#include "py_errors.h"
#include "py_trace.h"
#include "trace/trace.h"

namespace quarn::py {
namespace {

using FastMethod = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

// PyMethodDef stores every calling convention as PyCFunction; the detour via
// void(*)() keeps -Wcast-function-type quiet about the intended cast.
PyCFunction as_method(FastMethod f) { return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f)); }

const Trace* trace_of(PyObject* self) {
  if (!py_trace_check(self)) {
    raise_not_instance(self, "PyTrace");
    return nullptr;
  }
  return reinterpret_cast<PyTraceObject*>(self)->trace.get();
}

PyObject* load(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{"load", {"names"}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 1> a;
    const Trace* t = trace_of(self);
    if (t == nullptr || !bind_args(params, args, nargs, kwnames, a)) return nullptr;
    std::size_t count;
    if (PyUnicode_Check(a[0])) {
      std::string_view pattern;
      if (!arg_str(a[0], "names", pattern)) return nullptr;
      count = load_signals_matching(*t, pattern);
    } else {
      std::vector<std::string> names;
      if (!arg_str_list(a[0], "names", names)) return nullptr;
      count = load_signals(*t, names);
    }
    if (const std::string error = t->column_error(); !error.empty())
      return raise_load_error(reinterpret_cast<PyObject*>(Py_TYPE(self)), error,
                              reinterpret_cast<PyTraceObject*>(self)->source);
    return u64_to_py(count);
  });
}

PyObject* loaded(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<0> params{"loaded", {}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 0> a;
    const Trace* t = trace_of(self);
    if (t == nullptr || !bind_args(params, args, nargs, kwnames, a)) return nullptr;
    return column_load_to_py(t->column_load(), t->column_error());
  });
}

constexpr int kMethod = METH_FASTCALL | METH_KEYWORDS;

}  // namespace

PyMethodDef py_trace_loading_methods[] = {
    {"load", as_method(load), kMethod,
     "load($self, names)\n--\n\n"
     "Decodes the named signals' values now, in parallel: names is a glob pattern\n"
     "(or one exact name) or a list of exact names. Returns how many signals it\n"
     "covered. Raises TraceError (a ValueError) when a value chain of the file\n"
     "is corrupt or the file was cut short since it was opened.\n"
     "Only lazily opened traces decode on demand; on others it does nothing."},
    {"loaded", as_method(loaded), kMethod,
     "loaded($self)\n--\n\n"
     "{'loaded': columns decoded, 'total': columns, 'bytes': their memory,\n"
     " 'error': first decoding failure or None}. A trace loaded whole has all."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace quarn::py
