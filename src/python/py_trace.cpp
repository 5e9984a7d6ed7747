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
#include "py_cycles.h"
#include "py_trace_changes.h"
#include "py_trace_loading.h"
#include "py_trace_queries.h"
#include "py_trace_time.h"
#include "signal/bit_ops.h"
#include "trace/fsdb_reader.h"
#include "trace/fst_lazy_trace.h"
#include "trace/trace_record.h"
#include "trace/fst_trace.h"
#include "trace/load_report.h"
#include "trace/shm_reader.h"
#include "signal/value_bits.h"
#include "trace/vcd_reader.h"
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
  auto* obj = reinterpret_cast<PyTraceObject*>(self);
  obj->trace.~shared_ptr();
  obj->format.~basic_string();
  obj->source.~basic_string();
  type->tp_free(self);
  // Instances of heap types own a reference to their type.
  Py_DECREF(type);
}

const Trace* receiver(PyObject* self) { return trace_of(self); }

// `type_obj` is the class the constructor was called on: the constructors are
// class methods because a static method of a heap type cannot reach its type
// without module state.
PyObject* new_py_trace(PyObject* type_obj, std::shared_ptr<const Trace> trace, const char* format,
                       std::string source) {
  auto* type = reinterpret_cast<PyTypeObject*>(type_obj);
  PyObject* obj = type->tp_alloc(type, 0);
  if (obj == nullptr) return nullptr;
  auto* t = reinterpret_cast<PyTraceObject*>(obj);
  new (&t->trace) std::shared_ptr<const Trace>(std::move(trace));
  new (&t->format) std::string(format);
  new (&t->source) std::string(std::move(source));
  return obj;
}

// Constructors.

// A load runs without the interpreter lock: its input is already copied out
// of Python objects and it touches none. Every few MB the reader's load
// control takes the lock back just long enough to run the signal handlers,
// so Ctrl-C stops the load with KeyboardInterrupt.
class UnlockedLoad {
 public:
  UnlockedLoad() : state_(PyEval_SaveThread()) {}
  ~UnlockedLoad() { PyEval_RestoreThread(state_); }
  UnlockedLoad(const UnlockedLoad&) = delete;
  UnlockedLoad& operator=(const UnlockedLoad&) = delete;

  LoadControl& control() { return control_; }

 private:
  static bool poll(void* self) {
    auto* load = static_cast<UnlockedLoad*>(self);
    PyEval_RestoreThread(load->state_);
    const bool stop = PyErr_CheckSignals() != 0;  // the exception stays set
    load->state_ = PyEval_SaveThread();
    return stop;
  }

  PyThreadState* state_;
  LoadControl control_{&UnlockedLoad::poll, this};
};

// Runs `read(control)` without the lock; the error of an interrupted load
// is the one the signal handler raised.
template <class Read>
auto load_unlocked(Read read, bool& interrupted) {
  UnlockedLoad load;
  auto result = read(load.control());
  interrupted = load.control().stopped();
  return result;
}

// The file constructors: one path argument, a reader that returns a trace
// or an error message. What the reader worked around, in `report` when
// given, becomes one TraceWarning.
template <class TraceType, class Read>
PyObject* load_file(PyObject* type, const Params<1>& params, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, Read read, const char* format, const LoadReport* report = nullptr) {
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 1> a;
    std::string path;
    if (!bind_args(params, args, nargs, kwnames, a) || !arg_path(a[0], "path", path)) return nullptr;
    bool interrupted = false;
    auto loaded = load_unlocked([&](LoadControl& control) { return read(path, control); }, interrupted);
    if (interrupted && PyErr_Occurred()) return nullptr;
    if (const auto* message = std::get_if<std::string>(&loaded)) return raise_load_error(type, *message, path);
    if (report && report->problems) {
      const std::string text = std::to_string(report->problems) + " problem" + (report->problems == 1 ? "" : "s") +
                               " worked around; the first: " + report->first;
      if (!warn_load(type, text)) return nullptr;
    }
    return new_py_trace(type, std::make_shared<const TraceType>(std::move(std::get<TraceType>(loaded))), format,
                        path);
  });
}

// A VCD load's result: the trace, after one TraceWarning for what was
// skipped; or, when `strict` and something was, TraceError at its place.
PyObject* finish_vcd_load(PyObject* type, std::variant<VcdLoad, std::string>& loaded, std::string_view path,
                          bool strict) {
  if (const auto* message = std::get_if<std::string>(&loaded)) return raise_load_error(type, *message, path);
  VcdLoad& load = std::get<VcdLoad>(loaded);
  const LoadDiagnostics& d = load.diagnostics;
  if (d.count) {
    const std::string where = "line " + std::to_string(d.line) + ", column " + std::to_string(d.column) + ": ";
    if (strict) return raise_load_error(type, "Malformed VCD at " + where + d.message, path, d.line, d.column);
    const std::string text = "VCD: " + std::to_string(d.count) + " place" + (d.count == 1 ? "" : "s") +
                             " skipped or read with a default; the first at " + where + d.message;
    if (!warn_load(type, text)) return nullptr;
  }
  return new_py_trace(type, std::make_shared<const VcdTrace>(std::move(load.trace)), "vcd",
                      path.data() ? std::string(path) : std::string("<string>"));
}

PyObject* from_vcd(PyObject* type, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<2> params{"from_vcd", {"path", "strict"}, 1};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 2> a;
    std::string path;
    bool strict = false;
    if (!bind_args(params, args, nargs, kwnames, a) || !arg_path(a[0], "path", path) ||
        !arg_bool(a[1], "strict", strict))
      return nullptr;
    bool interrupted = false;
    auto loaded = load_unlocked([&](LoadControl& control) { return read_vcd_file(path, {}, &control); }, interrupted);
    if (interrupted && PyErr_Occurred()) return nullptr;
    return finish_vcd_load(type, loaded, path, strict);
  });
}

// quarn.open's VCD path: from_vcd with a callable that hears (done, total)
// bytes now and then, for a progress bar. An exception it raises is
// reported as unraisable rather than stopping the load.
PyObject* from_vcd_progress(PyObject* type, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<3> params{"_from_vcd_progress", {"path", "progress", "strict"}, 1};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 3> a;
    std::string path;
    bool strict = false;
    if (!bind_args(params, args, nargs, kwnames, a) || !arg_path(a[0], "path", path) ||
        !arg_bool(a[2], "strict", strict))
      return nullptr;
    PyObject* callback = a[1];
    std::uint64_t last_step = ~std::uint64_t{0};
    auto progress = [&](std::uint64_t done, std::uint64_t total) {
      // About a hundred calls per load, not one per read.
      const std::uint64_t step = total ? done * 100 / total : done >> 26;
      if (step == last_step) return;
      last_step = step;
      PyRef r(PyObject_CallFunction(callback, "KK", static_cast<unsigned long long>(done),
                                    static_cast<unsigned long long>(total)));
      if (!r) PyErr_WriteUnraisable(callback);
    };
    auto loaded = read_vcd_file(path, progress);
    return finish_vcd_load(type, loaded, path, strict);
  });
}

PyObject* from_vcd_string(PyObject* type, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<2> params{"from_vcd_string", {"data", "strict"}, 1};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 2> a;
    std::string_view data;
    bool strict = false;
    if (!bind_args(params, args, nargs, kwnames, a) || !arg_str(a[0], "data", data) ||
        !arg_bool(a[1], "strict", strict))
      return nullptr;
    bool interrupted = false;
    // `data` views the str's own UTF-8 buffer, which the caller keeps alive.
    auto loaded = load_unlocked([&](LoadControl& control) { return read_vcd_text(data, &control); }, interrupted);
    if (interrupted && PyErr_Occurred()) return nullptr;
    return finish_vcd_load(type, loaded, std::string_view(), strict);
  });
}

PyObject* from_fst(PyObject* type, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{"from_fst", {"path"}};
  LoadReport report;
  return load_file<RecordTrace>(
      type, params, args, nargs, kwnames,
      [&](const std::string& p, LoadControl& c) { return FstTrace::from_file(p, c, &report); }, "fst", &report);
}

// Columns decoded on first touch; what `quarn.open` gives for an FST file.
PyObject* from_fst_lazy(PyObject* type, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{"_from_fst_lazy", {"path"}};
  LoadReport report;
  return load_file<LazyFstTrace>(
      type, params, args, nargs, kwnames,
      [&](const std::string& p, LoadControl& c) { return LazyFstTrace::open(p, c, &report); }, "fst", &report);
}

PyObject* from_fsdb(PyObject* type, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{"from_fsdb", {"path"}};
  return load_file<RecordTrace>(
      type, params, args, nargs, kwnames,
      [](const std::string& p, LoadControl& c) { return FsdbTrace::from_file(p, c); }, "fsdb");
}

PyObject* from_shm(PyObject* type, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{"from_shm", {"path"}};
  return load_file<RecordTrace>(
      type, params, args, nargs, kwnames,
      [](const std::string& p, LoadControl& c) { return ShmTrace::from_file(p, c); }, "shm");
}

PyObject* from_vpd(PyObject* type, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{"from_vpd", {"path"}};
  return load_file<RecordTrace>(
      type, params, args, nargs, kwnames,
      [](const std::string& p, LoadControl& c) { return VpdTrace::from_file(p, c); }, "vpd");
}

PyObject* from_wlf(PyObject* type, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{"from_wlf", {"path"}};
  return load_file<RecordTrace>(
      type, params, args, nargs, kwnames,
      [](const std::string& p, LoadControl& c) { return WlfTrace::from_file(p, c); }, "wlf");
}

// Signal access.

PyObject* signal_names(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<0> params{"signal_names", {}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 0> a;
    const Trace* t = receiver(self);
    if (t == nullptr || !bind_args(params, args, nargs, kwnames, a)) return nullptr;
    return signal_names_to_py(*t);
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

PyObject* signal_bits(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<2> params{"signal_bits", {"name", "index"}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 2> a;
    std::string_view name;
    Index index = 0;
    const Trace* t = receiver(self);
    if (t == nullptr || !bind_args(params, args, nargs, kwnames, a) || !arg_str(a[0], "name", name) ||
        !arg_u64(a[1], "index", index))
      return nullptr;
    if (!t->signal_id(name)) Py_RETURN_NONE;
    const std::string bits = value_bits(t->signal_value(name, index), t->signal_width(name));
    if (bits.empty()) Py_RETURN_NONE;
    return PyUnicode_FromStringAndSize(bits.data(), static_cast<Py_ssize_t>(bits.size()));
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

    // Indices past the trace's last one are not listed.
    end = range_end_within(t->max_index(), start, end);
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
    {"from_vcd", as_method(from_vcd), kConstructor, "from_vcd(path, *, strict=False)\n--\n\nLoads a VCD file (a str or os.PathLike); gzip, bzip2 and zstd packed files\nare decoded while reading. TraceError (a ValueError) when the file cannot be opened or read, or is\nnot VCD; skipped or defaulted input gives one TraceWarning, or TraceError\nwith its line and column when strict."},
    {"from_vcd_string", as_method(from_vcd_string), kConstructor, "from_vcd_string(data, *, strict=False)\n--\n\nLoads VCD text held in a str. Skipped or defaulted input is reported by one\nTraceWarning, or raised as TraceError with its line and column when strict."},
    {"_from_vcd_progress", as_method(from_vcd_progress), kConstructor, "_from_vcd_progress(path, progress, *, strict=False)\n--\n\n"},
    {"from_fst", as_method(from_fst), kConstructor, "from_fst(path)\n--\n\nLoads an FST file (a str or os.PathLike). ValueError for a file that is\nnot FST or is damaged."},
    {"_from_fst_lazy", as_method(from_fst_lazy), kConstructor, "_from_fst_lazy(path)\n--\n\nOpens an FST file whose signals are decoded when first read (see load).\nValueError for a file that is not FST or is damaged."},
    {"from_fsdb", as_method(from_fsdb), kConstructor, "from_fsdb(path)\n--\n\nLoads an FSDB file: names and scopes, and values where the layout gives\nthem. ValueError for a file with another magic number."},
    {"from_shm", as_method(from_shm), kConstructor, "from_shm(path)\n--\n\nLoads an SHM database: its directory, or its .dsn or .trn file.\nValueError when no design file is found or it has another magic number."},
    {"from_vpd", as_method(from_vpd), kConstructor, "from_vpd(path)\n--\n\nLoads the signal names and scopes of a VPD file (no values).\nValueError for a file that is too small or has another magic number."},
    {"from_wlf", as_method(from_wlf), kConstructor, "from_wlf(path)\n--\n\nLoads a WLF file: names and one-byte values; its timestamps are the\nindices 0, 1, 2, ... ValueError for a file under one 8 KiB page."},
    {"signal_names", as_method(signal_names), kMethod, "signal_names($self)\n--\n\nEvery signal name (hierarchical, 'top.cpu.clk'), in declaration order."},
    {"scopes", as_method(scopes), kMethod, "scopes($self)\n--\n\nEvery scope path, in order of first appearance."},
    {"max_index", as_method(max_index), kMethod, "max_index($self)\n--\n\nThe last index: number of timestamps - 1 (0 for a trace without any)."},
    {"timestamp", as_method(timestamp), kMethod, "timestamp($self, index)\n--\n\nThe simulation time of `index`, in ticks (see timescale); 0 past the end."},
    {"signal_value", as_method(signal_value), kMethod, "signal_value($self, name, index)\n--\n\nThe value of `name` at `index`: int for numbers, float for reals, str for\nstrings; None for x/z bits, no value yet, an unknown name or an index past\nthe end."},
    {"signal_value_raw", as_method(signal_value_raw), kMethod, "signal_value_raw($self, name, index)\n--\n\n`signal_value` as an unsigned 64-bit int: 0 where that gives None; reals\ntruncated; wide numbers give their low 64 bits."},
    {"signal_bits", as_method(signal_bits), kMethod, "signal_bits($self, name, index)\n--\n\nThe value of `name` at `index` as the file wrote it: one character per bit\nin '01xzuwlh-', most significant first, padded to the width. None for an\nunknown name, no value yet, a real or a string."},
    {"signal_width", as_method(signal_width), kMethod, "signal_width($self, name)\n--\n\nThe width in bits of `name`; for an unknown name 0 (VCD) or 1 (other formats)."},
    {"signal_id", as_method(signal_id), kMethod, "signal_id($self, name)\n--\n\nThe numeric id of `name` (aliases share one), or None for an unknown name."},
    {"signal_values_range", as_method(signal_values_range), kMethod,
     "signal_values_range($self, name, start, end)\n--\n\nThe values of `name` at indices start .. end-1 as a list, converted as\nsignal_value converts them (all None for an unknown name). For big ranges\nvalues() gives numpy arrays instead."},
    {"bit_slice_val", as_method(bit_slice_val), kMethod, "bit_slice_val($self, val, high, low)\n--\n\nBits high..low of the int `val` (bit 0 the least significant); 0 when\nhigh < low or low >= 64."},
    {"sign_extend_val", as_method(sign_extend_val), kMethod, "sign_extend_val($self, val, width)\n--\n\n`val` read as a two's-complement number of `width` bits (width 0 or >= 64:\nas a signed 64-bit number)."},
    {nullptr, nullptr, 0, nullptr},
};

// The methods of every file that defines some, as one table.
PyMethodDef* all_methods() {
  static std::vector<PyMethodDef> table = [] {
    std::vector<PyMethodDef> t;
    for (const PyMethodDef* part : {py_trace_methods, py_trace_query_methods, py_trace_change_methods,
                                    py_trace_time_methods, py_trace_bulk_methods, py_trace_forward_methods,
                                    py_trace_cycle_methods, py_trace_loading_methods})
      for (const PyMethodDef* m = part; m->ml_name != nullptr; ++m) t.push_back(*m);
    t.push_back({nullptr, nullptr, 0, nullptr});
    return t;
  }();
  return table.data();
}

PyType_Slot py_trace_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(py_trace_dealloc)},
    {Py_tp_methods, nullptr},  // all_methods(), set at registration
    {Py_tp_doc, const_cast<char*>(
        "A loaded waveform trace, read whole into memory; made by quarn.open or the\n"
        "from_* constructors. Index i is the i-th time step (see times()); every signal\n"
        "has a value at every index, the value in force there (forward filled).\n"
        "len(trace) is the number of indices; `name in trace` tells whether a signal exists.")},
    {Py_sq_length, reinterpret_cast<void*>(py_trace_length)},
    {Py_sq_contains, reinterpret_cast<void*>(py_trace_contains)},
    {Py_tp_repr, reinterpret_cast<void*>(py_trace_repr)},
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

const Trace* trace_of(PyObject* self) {
  if (!py_trace_check(self)) {
    raise_not_instance(self, "PyTrace");
    return nullptr;
  }
  return reinterpret_cast<PyTraceObject*>(self)->trace.get();
}

// Each module instance has its own type object, but all share this dealloc.
bool py_trace_check(PyObject* obj) { return Py_TYPE(obj)->tp_dealloc == py_trace_dealloc; }

}  // namespace quarn::py
