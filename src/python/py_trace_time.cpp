#include "py_trace_time.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "eval/expr.h"
#include "eval/time_lookup.h"
#include "py_args.h"
#include "py_convert.h"
#include "py_errors.h"
#include "py_expr.h"
#include "py_numpy.h"
#include "py_ref.h"
#include "py_trace.h"
#include "py_trace_names.h"
#include "trace/timescale.h"
#include "trace/trace.h"

namespace quarn::py {
namespace {

using FastMethod = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyCFunction as_method(FastMethod f) { return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f)); }

// A time argument: an int in ticks, or a str with a unit converted by the
// trace's timescale ("1.2us"); ValueError for a str that does not convert.
bool arg_time(PyObject* obj, const char* name, const Trace& t, Time& out) {
  if (!PyUnicode_Check(obj)) return arg_u64(obj, name, out);
  std::string_view text;
  if (!arg_str(obj, name, text)) return false;
  std::string error;
  const auto ticks = parse_time(text, t.timescale(), error);
  if (!ticks) {
    PyErr_Format(PyExc_ValueError, "argument '%s': %s", name, error.c_str());
    return false;
  }
  out = *ticks;
  return true;
}

PyObject* timescale(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<0> params{"timescale", {}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 0> a;
    const Trace* t = trace_of(self);
    if (t == nullptr || !bind_args(params, args, nargs, kwnames, a)) return nullptr;
    const auto ts = t->timescale();
    if (!ts) Py_RETURN_NONE;
    const std::string unit(unit_name(ts->exponent));
    return Py_BuildValue("(Is)", static_cast<unsigned>(ts->magnitude), unit.c_str());
  });
}

PyObject* times(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<0> params{"times", {}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 0> a;
    const Trace* t = trace_of(self);
    if (t == nullptr || !bind_args(params, args, nargs, kwnames, a)) return nullptr;
    // A read-only view of the trace's own list, which the array keeps alive.
    const auto& owner = reinterpret_cast<PyTraceObject*>(self)->trace;
    const auto stamps = t->timestamps();
    return numpy_view(owner, stamps.data(), stamps.size(), sizeof(Time), "<u8", false);
  });
}

PyObject* ticks(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{"ticks", {"time"}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 1> a;
    Time time = 0;
    const Trace* t = trace_of(self);
    if (t == nullptr || !bind_args(params, args, nargs, kwnames, a) || !arg_time(a[0], "time", *t, time))
      return nullptr;
    return u64_to_py(time);
  });
}

PyObject* index_at(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{"index_at", {"time"}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 1> a;
    Time time = 0;
    const Trace* t = trace_of(self);
    if (t == nullptr || !bind_args(params, args, nargs, kwnames, a) || !arg_time(a[0], "time", *t, time))
      return nullptr;
    return optional_u64_to_py(quarn::index_at(t->timestamps(), time));
  });
}

PyObject* value_at(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<2> params{"value_at", {"name", "time"}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 2> a;
    std::string_view name;
    Time time = 0;
    const Trace* t = trace_of(self);
    if (t == nullptr || !bind_args(params, args, nargs, kwnames, a) || !arg_str(a[0], "name", name) ||
        !arg_time(a[1], "time", *t, time))
      return nullptr;
    const auto id = known_signal(*t, name);
    if (!id) return nullptr;
    const auto index = quarn::index_at(t->timestamps(), time);
    if (!index) Py_RETURN_NONE;
    return signal_value_to_py(t->signal_value_by_id(*id, *index));
  });
}

PyObject* window(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<2> params{"window", {"t0", "t1"}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 2> a;
    Time t0 = 0, t1 = 0;
    const Trace* t = trace_of(self);
    if (t == nullptr || !bind_args(params, args, nargs, kwnames, a) || !arg_time(a[0], "t0", *t, t0) ||
        !arg_time(a[1], "t1", *t, t1))
      return nullptr;
    const IndexRange r = time_window(t->timestamps(), t0, t1);
    return Py_BuildValue("(KK)", static_cast<unsigned long long>(r.first), static_cast<unsigned long long>(r.end));
  });
}

PyObject* sig(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{"sig", {"name"}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 1> a;
    std::string_view name;
    const Trace* t = trace_of(self);
    if (t == nullptr || !bind_args(params, args, nargs, kwnames, a) || !arg_str(a[0], "name", name)) return nullptr;
    const auto id = known_signal(*t, name);
    if (!id) return nullptr;
    // PyExpr of this trace's module.
    PyObject* module = PyType_GetModule(Py_TYPE(self));
    if (module == nullptr) return nullptr;
    PyRef expr_type(PyObject_GetAttrString(module, "PyExpr"));
    if (!expr_type) return nullptr;
    auto names = std::make_shared<const ExprNames>(ExprNames{{*id, std::string(name)}});
    return new_py_expr(reinterpret_cast<PyTypeObject*>(expr_type.get()), make_signal(*id), std::move(names));
  });
}

constexpr int kMethod = METH_FASTCALL | METH_KEYWORDS;

}  // namespace

PyMethodDef py_trace_time_methods[] = {
    {"timescale", as_method(timescale), kMethod,
     "timescale($self)\n--\n\nThe length of one time tick as the file declares it: (magnitude, unit),\n"
     "for example (1, 'ns') or (100, 'ps'). None where the format records none\n(FSDB, VPD, WLF, SHM)."},
    {"times", as_method(times), kMethod,
     "times($self)\n--\n\nThe timestamp of every index, in ticks, as a read-only numpy uint64 array\n"
     "that shares the trace's memory (no copy). Empty for a trace without times."},
    {"ticks", as_method(ticks), kMethod,
     "ticks($self, time)\n--\n\n`time` in ticks of this trace: an int as it is, a str with a unit\n"
     "('1.2us', '40 ns') converted with the trace's timescale and rounded down.\n"
     "ValueError for a malformed time, or a unit on a trace without a timescale."},
    {"index_at", as_method(index_at), kMethod,
     "index_at($self, time)\n--\n\nThe index in force at simulation time `time`: the last index whose\n"
     "timestamp is <= time; None before the first timestamp. `time` is an int in\n"
     "ticks or a str with a unit ('1.2us', '40 ns'), converted with the trace's\n"
     "timescale and rounded down to a whole tick."},
    {"value_at", as_method(value_at), kMethod,
     "value_at($self, name, time)\n--\n\nThe value of signal `name` in force at `time` (as index_at reads\n"
     "it), converted as signal_value does: int, float, str, or None for x/z or no\n"
     "value. None before the first timestamp. KeyError for an unknown name,\nnaming close matches."},
    {"window", as_method(window), kMethod,
     "window($self, t0, t1)\n--\n\nThe indices in force at some time in [t0, t1], as (first, end) with\n"
     "end exclusive: first is the index in force at t0 (index 0 when t0 comes\n"
     "first), end - 1 the index in force at t1. (0, 0) when t1 < t0 or t1 comes\n"
     "before the first timestamp. Times as for index_at."},
    {"sig", as_method(sig), kMethod,
     "sig($self, name)\n--\n\nA PyExpr reading signal `name`, for building conditions with Python\n"
     "operators: trace.find((trace.sig('top.valid') == 1) & (trace.sig('top.addr') > 4)).\n"
     "KeyError for an unknown name, naming close matches."},
    {nullptr, nullptr, 0, nullptr},
};

Py_ssize_t py_trace_length(PyObject* self) {
  const Trace* t = trace_of(self);
  if (t == nullptr) return -1;
  return static_cast<Py_ssize_t>(t->timestamps().size());
}

int py_trace_contains(PyObject* self, PyObject* name) {
  const Trace* t = trace_of(self);
  if (t == nullptr) return -1;
  if (!PyUnicode_Check(name)) return 0;
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(name, &size);
  if (data == nullptr) return -1;
  return t->signal_id(std::string_view(data, static_cast<std::size_t>(size))) ? 1 : 0;
}

PyObject* py_trace_repr(PyObject* self) {
  return guarded([&]() -> PyObject* {
    const Trace* t = trace_of(self);
    if (t == nullptr) return nullptr;
    const auto* obj = reinterpret_cast<PyTraceObject*>(self);
    const auto stamps = t->timestamps();
    std::string range = "no times";
    if (!stamps.empty()) {
      const auto ts = t->timescale();
      const std::string unit = ts ? " x " + std::to_string(ts->magnitude) + std::string(unit_name(ts->exponent)) : "";
      range = "times " + std::to_string(stamps.front()) + ".." + std::to_string(stamps.back()) + unit;
    }
    PyRef source(PyUnicode_FromStringAndSize(obj->source.data(), static_cast<Py_ssize_t>(obj->source.size())));
    if (!source) return nullptr;
    return PyUnicode_FromFormat("<PyTrace %s %R: %zu signals, %zu indices, %s>", obj->format.c_str(), source.get(),
                                t->signal_names().size(), stamps.size(), range.c_str());
  });
}

}  // namespace quarn::py
