// changes and values: a signal's values as numpy arrays, built from the
// stored runs in the core and handed to numpy without a Python object per
// value (except for wide numbers and strings, which numpy keeps as objects).

#include <array>
#include <string_view>

#include "eval/bulk_values.h"
#include "py_args.h"
#include "py_convert.h"
#include "py_errors.h"
#include "py_numpy.h"
#include "py_ref.h"
#include "py_trace.h"
#include "py_trace_names.h"
#include "py_trace_time.h"
#include "signal/column.h"
#include "trace/trace.h"

namespace quarn::py {
namespace {

using FastMethod = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyCFunction as_method(FastMethod f) { return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f)); }

// The values array: uint64, float64, or objects (Empty as None).
PyObject* values_array(BulkValues& bulk) {
  switch (bulk.kind) {
    case BulkKind::Uint: return numpy_from_vector(std::move(bulk.uints), "<u8");
    case BulkKind::Real: return numpy_from_vector(std::move(bulk.reals), "<f8");
    case BulkKind::Wide:
    case BulkKind::Text: break;
  }
  PyRef list(PyList_New(static_cast<Py_ssize_t>(bulk.values.size())));
  if (!list || !signal_values_into_list(bulk.values, list.get(), 0)) return nullptr;
  return numpy_object_array(list.get());
}

PyObject* changes(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{"changes", {"name"}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 1> a;
    std::string_view name;
    const Trace* t = trace_of(self);
    if (t == nullptr || !bind_args(params, args, nargs, kwnames, a) || !arg_str(a[0], "name", name)) return nullptr;
    const auto id = known_signal(*t, name);
    if (!id) return nullptr;
    BulkValues bulk = bulk_changes(t->column(*id), t->signal_width(name));
    PyRef indices(numpy_from_vector(std::move(bulk.indices), "<u8"));
    PyRef values(indices ? values_array(bulk) : nullptr);
    PyRef unknown(values ? numpy_from_vector(std::move(bulk.unknown), "?") : nullptr);
    if (!unknown) return nullptr;
    return PyTuple_Pack(3, indices.get(), values.get(), unknown.get());
  });
}

PyObject* values(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<3> params{"values", {"name", "start", "end"}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 3> a;
    std::string_view name;
    Index start = 0;
    const Trace* t = trace_of(self);
    if (t == nullptr || !bind_some_args(params, 1, args, nargs, kwnames, a) || !arg_str(a[0], "name", name) ||
        (a[1] != nullptr && !arg_u64(a[1], "start", start)))
      return nullptr;
    Index end = t->timestamps().size();
    if (a[2] != nullptr && a[2] != Py_None && !arg_u64(a[2], "end", end)) return nullptr;
    const auto id = known_signal(*t, name);
    if (!id) return nullptr;
    BulkValues bulk = bulk_values(t->column(*id), t->signal_width(name), start, end);
    PyRef vals(values_array(bulk));
    PyRef unknown(vals ? numpy_from_vector(std::move(bulk.unknown), "?") : nullptr);
    if (!unknown) return nullptr;
    return PyTuple_Pack(2, vals.get(), unknown.get());
  });
}

PyObject* signal_kind(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{"signal_kind", {"name"}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 1> a;
    std::string_view name;
    const Trace* t = trace_of(self);
    if (t == nullptr || !bind_args(params, args, nargs, kwnames, a) || !arg_str(a[0], "name", name)) return nullptr;
    const auto id = known_signal(*t, name);
    if (!id) return nullptr;
    const Width width = t->signal_width(name);
    switch (bulk_kind(t->column(*id), width)) {
      case BulkKind::Real: return PyUnicode_FromString("real");
      case BulkKind::Text: return PyUnicode_FromString("string");
      case BulkKind::Uint:
      case BulkKind::Wide: break;
    }
    return PyUnicode_FromString(width == 1 ? "bit" : "vector");
  });
}

constexpr int kMethod = METH_FASTCALL | METH_KEYWORDS;

}  // namespace

PyMethodDef py_trace_bulk_methods[] = {
    {"changes", as_method(changes), kMethod,
     "changes($self, name)\n--\n\nThe stored changes of signal `name` as numpy arrays (indices, values,\n"
     "unknown): its first value and every index where it changes after that.\n"
     "values: uint64 for numbers of up to 64 bits (x/z bits read as 0), float64\n"
     "for reals (NaN where there is no value), objects for wider numbers (int)\n"
     "and strings (str), None where there is no number. unknown: bool, True where\n"
     "the value holds x or z bits or there is none. Built in C++ without a Python\n"
     "object per change. KeyError for an unknown name."},
    {"values", as_method(values), kMethod,
     "values($self, name, start=0, end=None)\n--\n\nThe value of signal `name` at every index from "
     "start to end - 1 (end\ndefaults to the number of indices) as numpy arrays (values, unknown), "
     "with the\ndtypes of changes. KeyError for an unknown name."},
    {"signal_kind", as_method(signal_kind), kMethod,
     "signal_kind($self, name)\n--\n\nWhat signal `name` holds, from its values and width: 'bit' (width 1),\n"
     "'vector', 'real' or 'string'. KeyError for an unknown name."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace quarn::py
