#include "py_trace.h"

#include <algorithm>
#include <array>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "py_args.h"
#include "py_convert.h"
#include "py_errors.h"
#include "py_ref.h"
#include "py_trace_changes.h"
#include "py_trace_loading.h"
#include "py_trace_queries.h"
#include "signal/bit_ops.h"
#include "trace/fsdb_reader.h"
#include "trace/fst_lazy_trace.h"
#include "trace/fst_trace.h"
#include "trace/shm_reader.h"
#include "trace/vcd_trace.h"
#include "trace/vpd_reader.h"
#include "trace/wlf_reader.h"

namespace quarn::py {
namespace {

using FastMethod = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

// PyMethodDef stores every calling convention as PyCFunction; the detour via
// void(*)() keeps -Wcast-function-type quiet about the intended cast.
PyCFunction as_method(FastMethod f) { return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f)); }

// Indices per core call when filling a range, so the core never builds one
// huge vector of values for a long range.
constexpr Index kRangeChunk = 65536;

void py_trace_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  reinterpret_cast<PyTraceObject*>(self)->trace.~shared_ptr();
  type->tp_free(self);
  // Instances of heap types own a reference to their type.
  Py_DECREF(type);
}

// The receiver's trace, or null with TypeError set.
const Trace* receiver(PyObject* self) {
  if (!py_trace_check(self)) {
    raise_not_instance(self, "PyTrace");
    return nullptr;
  }
  return reinterpret_cast<PyTraceObject*>(self)->trace.get();
}

// `type_obj` is the class the constructor was called on: the constructors are
// class methods because a static method of a heap type cannot reach its type
// without module state.
PyObject* new_py_trace(PyObject* type_obj, std::shared_ptr<const Trace> trace) {
  auto* type = reinterpret_cast<PyTypeObject*>(type_obj);
  PyObject* obj = type->tp_alloc(type, 0);
  if (obj == nullptr) return nullptr;
  new (&reinterpret_cast<PyTraceObject*>(obj)->trace) std::shared_ptr<const Trace>(std::move(trace));
  return obj;
}

// Constructors.

// The file constructors: one path argument, a reader that returns a trace
// or an error message.
template <class TraceType>
PyObject* load_file(PyObject* type, const Params<1>& params, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, std::variant<TraceType, std::string> (*reader)(const std::string&)) {
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 1> a;
    std::string_view path;
    if (!bind_args(params, args, nargs, kwnames, a) || !arg_str(a[0], "path", path)) return nullptr;
    auto loaded = reader(std::string(path));
    if (const auto* message = std::get_if<std::string>(&loaded)) return raise_load_error(*message);
    return new_py_trace(type, std::make_shared<const TraceType>(std::move(std::get<TraceType>(loaded))));
  });
}

PyObject* from_vcd(PyObject* type, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{"from_vcd", {"path"}};
  return load_file(type, params, args, nargs, kwnames, &VcdTrace::from_file);
}

PyObject* from_vcd_string(PyObject* type, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{"from_vcd_string", {"data"}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 1> a;
    std::string_view data;
    if (!bind_args(params, args, nargs, kwnames, a) || !arg_str(a[0], "data", data)) return nullptr;
    return new_py_trace(type, std::make_shared<const VcdTrace>(VcdTrace::parse(data)));
  });
}

PyObject* from_fst(PyObject* type, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{"from_fst", {"path"}};
  return load_file(type, params, args, nargs, kwnames, &FstTrace::from_file);
}

// Columns decoded on first touch; what `quarn.open` gives for an FST file.
PyObject* from_fst_lazy(PyObject* type, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{"_from_fst_lazy", {"path"}};
  return load_file(type, params, args, nargs, kwnames, &LazyFstTrace::open);
}

PyObject* from_fsdb(PyObject* type, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{"from_fsdb", {"path"}};
  return load_file(type, params, args, nargs, kwnames, &FsdbTrace::from_file);
}

PyObject* from_shm(PyObject* type, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{"from_shm", {"path"}};
  return load_file(type, params, args, nargs, kwnames, &ShmTrace::from_file);
}

PyObject* from_vpd(PyObject* type, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{"from_vpd", {"path"}};
  return load_file(type, params, args, nargs, kwnames, &VpdTrace::from_file);
}

PyObject* from_wlf(PyObject* type, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{"from_wlf", {"path"}};
  return load_file(type, params, args, nargs, kwnames, &WlfTrace::from_file);
}

// Signal access.

PyObject* signal_names(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<0> params{"signal_names", {}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 0> a;
    const Trace* t = receiver(self);
    if (t == nullptr || !bind_args(params, args, nargs, kwnames, a)) return nullptr;
    return str_list_to_py(t->signal_names());
  });
}

PyObject* scopes(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<0> params{"scopes", {}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 0> a;
    const Trace* t = receiver(self);
    if (t == nullptr || !bind_args(params, args, nargs, kwnames, a)) return nullptr;
    return str_list_to_py(t->scopes());
  });
}

PyObject* max_index(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<0> params{"max_index", {}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 0> a;
    const Trace* t = receiver(self);
    if (t == nullptr || !bind_args(params, args, nargs, kwnames, a)) return nullptr;
    return u64_to_py(t->max_index());
  });
}

PyObject* timestamp(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{"timestamp", {"index"}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 1> a;
    Index index = 0;
    const Trace* t = receiver(self);
    if (t == nullptr || !bind_args(params, args, nargs, kwnames, a) || !arg_u64(a[0], "index", index))
      return nullptr;
    return u64_to_py(t->timestamp(index));
  });
}

PyObject* signal_value(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<2> params{"signal_value", {"name", "index"}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 2> a;
    std::string_view name;
    Index index = 0;
    const Trace* t = receiver(self);
    if (t == nullptr || !bind_args(params, args, nargs, kwnames, a) || !arg_str(a[0], "name", name) ||
        !arg_u64(a[1], "index", index))
      return nullptr;
    return signal_value_to_py(t->signal_value(name, index));
  });
}

PyObject* signal_value_raw(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<2> params{"signal_value_raw", {"name", "index"}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 2> a;
    std::string_view name;
    Index index = 0;
    const Trace* t = receiver(self);
    if (t == nullptr || !bind_args(params, args, nargs, kwnames, a) || !arg_str(a[0], "name", name) ||
        !arg_u64(a[1], "index", index))
      return nullptr;
    return u64_to_py(to_u64(t->signal_value(name, index)).value_or(0));
  });
}

PyObject* signal_width(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{"signal_width", {"name"}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 1> a;
    std::string_view name;
    const Trace* t = receiver(self);
    if (t == nullptr || !bind_args(params, args, nargs, kwnames, a) || !arg_str(a[0], "name", name))
      return nullptr;
    return u64_to_py(t->signal_width(name));
  });
}

PyObject* signal_id(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{"signal_id", {"name"}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 1> a;
    std::string_view name;
    const Trace* t = receiver(self);
    if (t == nullptr || !bind_args(params, args, nargs, kwnames, a) || !arg_str(a[0], "name", name))
      return nullptr;
    return optional_u64_to_py(t->signal_id(name));
  });
}

PyObject* signal_values_range(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<3> params{"signal_values_range", {"name", "start", "end"}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 3> a;
    std::string_view name;
    Index start = 0;
    Index end = 0;
    const Trace* t = receiver(self);
    if (t == nullptr || !bind_args(params, args, nargs, kwnames, a) || !arg_str(a[0], "name", name) ||
        !arg_u64(a[1], "start", start) || !arg_u64(a[2], "end", end))
      return nullptr;

    const Index count = end > start ? end - start : 0;
    // Beyond this the list's pointer array alone overflows Py_ssize_t bytes.
    constexpr Index kMaxItems = PY_SSIZE_T_MAX / sizeof(PyObject*);
    PyRef list(count > kMaxItems ? nullptr : PyList_New(static_cast<Py_ssize_t>(count)));
    if (!list) {
      if (count <= kMaxItems && !PyErr_ExceptionMatches(PyExc_MemoryError)) return nullptr;
      // The interpreter's MemoryError has no text; say what could not be had.
      PyErr_Format(PyExc_MemoryError, "signal_values_range: %llu values are too many to allocate",
                   static_cast<unsigned long long>(count));
      return nullptr;
    }
    for (Index done = 0; done < count;) {
      const Index n = std::min(kRangeChunk, count - done);
      const std::vector<SignalValue> values = t->signal_values_range(name, start + done, start + done + n);
      if (values.size() != n) {
        PyErr_SetString(PyExc_RuntimeError, "signal_values_range: the trace answered the wrong number of values");
        return nullptr;
      }
      if (!signal_values_into_list(values, list.get(), static_cast<Py_ssize_t>(done))) return nullptr;
      done += n;
    }
    return list.release();
  });
}

// Bit utilities on plain integers.

PyObject* bit_slice_val(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<3> params{"bit_slice_val", {"val", "high", "low"}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 3> a;
    std::uint64_t val = 0;
    std::uint32_t high = 0;
    std::uint32_t low = 0;
    if (receiver(self) == nullptr || !bind_args(params, args, nargs, kwnames, a) || !arg_u64(a[0], "val", val) ||
        !arg_u32(a[1], "high", high) || !arg_u32(a[2], "low", low))
      return nullptr;
    return u64_to_py(quarn::bit_slice_val(val, high, low));
  });
}

PyObject* sign_extend_val(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<2> params{"sign_extend_val", {"val", "width"}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 2> a;
    std::uint64_t val = 0;
    std::uint32_t width = 0;
    if (receiver(self) == nullptr || !bind_args(params, args, nargs, kwnames, a) || !arg_u64(a[0], "val", val) ||
        !arg_u32(a[1], "width", width))
      return nullptr;
    return i64_to_py(quarn::sign_extend_val(val, width));
  });
}

constexpr int kConstructor = METH_FASTCALL | METH_KEYWORDS | METH_CLASS;
constexpr int kMethod = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef py_trace_methods[] = {
    {"from_vcd", as_method(from_vcd), kConstructor, "from_vcd(path)\n--\n\n"},
    {"from_vcd_string", as_method(from_vcd_string), kConstructor, "from_vcd_string(data)\n--\n\n"},
    {"from_fst", as_method(from_fst), kConstructor, "from_fst(path)\n--\n\n"},
    {"_from_fst_lazy", as_method(from_fst_lazy), kConstructor, "_from_fst_lazy(path)\n--\n\n"},
    {"from_fsdb", as_method(from_fsdb), kConstructor, "from_fsdb(path)\n--\n\n"},
    {"from_shm", as_method(from_shm), kConstructor, "from_shm(path)\n--\n\n"},
    {"from_vpd", as_method(from_vpd), kConstructor, "from_vpd(path)\n--\n\n"},
    {"from_wlf", as_method(from_wlf), kConstructor, "from_wlf(path)\n--\n\n"},
    {"signal_names", as_method(signal_names), kMethod, "signal_names($self)\n--\n\n"},
    {"scopes", as_method(scopes), kMethod, "scopes($self)\n--\n\n"},
    {"max_index", as_method(max_index), kMethod, "max_index($self)\n--\n\n"},
    {"timestamp", as_method(timestamp), kMethod, "timestamp($self, index)\n--\n\n"},
    {"signal_value", as_method(signal_value), kMethod, "signal_value($self, name, index)\n--\n\n"},
    {"signal_value_raw", as_method(signal_value_raw), kMethod, "signal_value_raw($self, name, index)\n--\n\n"},
    {"signal_width", as_method(signal_width), kMethod, "signal_width($self, name)\n--\n\n"},
    {"signal_id", as_method(signal_id), kMethod, "signal_id($self, name)\n--\n\n"},
    {"signal_values_range", as_method(signal_values_range), kMethod,
     "signal_values_range($self, name, start, end)\n--\n\n"},
    {"bit_slice_val", as_method(bit_slice_val), kMethod, "bit_slice_val($self, val, high, low)\n--\n\n"},
    {"sign_extend_val", as_method(sign_extend_val), kMethod, "sign_extend_val($self, val, width)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

// The methods of every file that defines some, as one table.
PyMethodDef* all_methods() {
  static std::vector<PyMethodDef> table = [] {
    std::vector<PyMethodDef> t;
    for (const PyMethodDef* part : {py_trace_methods, py_trace_query_methods, py_trace_change_methods, py_trace_loading_methods})
      for (const PyMethodDef* m = part; m->ml_name != nullptr; ++m) t.push_back(*m);
    t.push_back({nullptr, nullptr, 0, nullptr});
    return t;
  }();
  return table.data();
}

PyType_Slot py_trace_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(py_trace_dealloc)},
    {Py_tp_methods, nullptr},  // all_methods(), set at registration
    {0, nullptr},
};

PyType_Spec py_trace_spec = {
    "quarn._core.PyTrace",
    sizeof(PyTraceObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
    py_trace_slots,
};

}  // namespace

PyObject* register_py_trace(PyObject* module) {
  py_trace_slots[1].pfunc = all_methods();
  return PyType_FromModuleAndSpec(module, &py_trace_spec, nullptr);
}

// Each module instance has its own type object, but all share this dealloc.
bool py_trace_check(PyObject* obj) { return Py_TYPE(obj)->tp_dealloc == py_trace_dealloc; }

}  // namespace quarn::py
