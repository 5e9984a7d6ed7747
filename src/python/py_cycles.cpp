// PyCycles: a trace sampled at clock edges. Arrays leave as bytes of native
// uint64 (or uint8 flags); the Python class quarn.Cycles wraps them in numpy.

#include "py_cycles.h"

#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "eval/block_eval.h"
#include "eval/cycle_functions.h"
#include "eval/cycle_trace.h"
#include "eval/expr_parse.h"
#include "eval/find.h"
#include "eval/program.h"
#include "eval/seq_parse.h"
#include "eval/seq_run.h"
#include "eval/value_ops.h"
#include "py_args.h"
#include "py_convert.h"
#include "py_errors.h"
#include "py_ref.h"
#include "py_trace.h"
#include "trace/trace.h"

namespace quarn::py {
namespace {

struct PyCyclesObject {
  PyObject_HEAD
  std::shared_ptr<const CycleTrace> cycles;
};

using FastMethod = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyCFunction as_method(FastMethod f) { return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f)); }

void py_cycles_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  reinterpret_cast<PyCyclesObject*>(self)->cycles.~shared_ptr();
  type->tp_free(self);
  Py_DECREF(type);
}

bool py_cycles_check(PyObject* obj) { return Py_TYPE(obj)->tp_dealloc == py_cycles_dealloc; }

const CycleTrace* receiver(PyObject* self) {
  if (!py_cycles_check(self)) {
    raise_not_instance(self, "PyCycles");
    return nullptr;
  }
  return reinterpret_cast<PyCyclesObject*>(self)->cycles.get();
}

template <class T>
PyObject* bytes_of(const std::vector<T>& v) {
  return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(v.data()),
                                   static_cast<Py_ssize_t>(v.size() * sizeof(T)));
}

PyObject* raise_parse_error(const ParseError& e) {
  PyErr_Format(PyExc_ValueError, "%s at column %zu", e.message.c_str(), e.column);
  return nullptr;
}

// An expression over cycles: a str with the temporal functions, or a PyExpr.
bool cycle_expr(PyObject* obj, const CycleTrace& c, ExprPtr& out) {
  if (PyUnicode_Check(obj)) {
    std::string_view text;
    if (!arg_str(obj, "expr", text)) return false;
    ParsedExpr p = parse_expression(text, c.base(), cycle_functions());
    if (!p.expr) {
      raise_parse_error(p.error);
      return false;
    }
    out = std::move(p.expr);
    return true;
  }
  return arg_expr_or_text(obj, "expr", c, out);
}

// sample(trace, clock, edge, first, end, after) -> PyCycles
PyObject* sample(PyObject* type, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<6> params{"sample", {"trace", "clock", "edge", "first", "end", "after"}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 6> a;
    std::string_view clock;
    std::uint64_t edge = 0, first = 0, end = 0;
    if (!bind_args(params, args, nargs, kwnames, a)) return nullptr;
    if (!py_trace_check(a[0])) return raise_not_instance(a[0], "PyTrace");
    if (!arg_str(a[1], "clock", clock) || !arg_u64(a[2], "edge", edge) || !arg_u64(a[3], "first", first) ||
        !arg_u64(a[4], "end", end))
      return nullptr;
    const int after = PyObject_IsTrue(a[5]);
    if (after < 0) return nullptr;
    const std::shared_ptr<const Trace>& trace = reinterpret_cast<PyTraceObject*>(a[0])->trace;
    const auto id = trace->signal_id(clock);
    if (!id) {
      PyErr_Format(PyExc_KeyError, "no signal named '%s'", std::string(clock).c_str());
      return nullptr;
    }
    std::vector<Index> edges =
        clock_edges(*trace, *id, edge == 0 ? ClockEdge::Rise : edge == 1 ? ClockEdge::Fall : ClockEdge::Both, first,
                    end);
    auto* obj = PyObject_New(PyCyclesObject, reinterpret_cast<PyTypeObject*>(type));
    if (obj == nullptr) return nullptr;
    new (&obj->cycles) std::shared_ptr<const CycleTrace>();
    obj->cycles = std::make_shared<CycleTrace>(trace, std::move(edges), after ? SampleAt::After : SampleAt::Before);
    return reinterpret_cast<PyObject*>(obj);
  });
}

PyObject* cycle_count(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<0> params{"cycle_count", {}};
  std::array<PyObject*, 0> a;
  const CycleTrace* c = receiver(self);
  if (c == nullptr || !bind_args(params, args, nargs, kwnames, a)) return nullptr;
  return u64_to_py(c->cycle_count());
}

// indices() / times(): bytes of uint64 per cycle.
template <bool Times>
PyObject* edges(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<0> params{Times ? "times" : "indices", {}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 0> a;
    const CycleTrace* c = receiver(self);
    if (c == nullptr || !bind_args(params, args, nargs, kwnames, a)) return nullptr;
    if (!Times) return bytes_of(c->edge_indices());
    const std::span<const Time> t = c->timestamps();
    return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(t.data()),
                                     static_cast<Py_ssize_t>(t.size() * sizeof(Time)));
  });
}

// eval(expr) -> (values: bytes of uint64, unknown: bytes of uint8)
PyObject* eval(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{"eval", {"expr"}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 1> a;
    ExprPtr expr;
    const CycleTrace* c = receiver(self);
    if (c == nullptr || !bind_args(params, args, nargs, kwnames, a) || !cycle_expr(a[0], *c, expr)) return nullptr;
    const std::size_t n = c->cycle_count();
    std::vector<std::uint64_t> values(n, 0);
    std::vector<std::uint8_t> unknown(n, 0);
    if (n > 0) {
      const Program program = compile(*c, *expr);
      BlockEvaluator ev(program);
      for (std::size_t start = 0; start < n; start += kLanes) {
        const std::size_t m = std::min<std::size_t>(kLanes, n - start);
        ev.run(start, m);
        for (std::size_t j = 0; j < m; ++j) {
          std::uint64_t v = 0;
          if (read_u64(ev.result_lane(j), v)) values[start + j] = v;
          else unknown[start + j] = 1;
        }
      }
    }
    PyRef v(bytes_of(values)), u(bytes_of(unknown));
    if (!v || !u) return nullptr;
    return PyTuple_Pack(2, v.get(), u.get());
  });
}

// find(expr) -> bytes of uint64 cycles; count(expr) -> int
template <bool Count>
PyObject* search(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{Count ? "count" : "find", {"expr"}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 1> a;
    ExprPtr expr;
    const CycleTrace* c = receiver(self);
    if (c == nullptr || !bind_args(params, args, nargs, kwnames, a) || !cycle_expr(a[0], *c, expr)) return nullptr;
    if (c->cycle_count() == 0) return Count ? u64_to_py(0) : PyBytes_FromStringAndSize(nullptr, 0);
    if (Count) return u64_to_py(parallel_count(*c, *expr));
    return bytes_of(parallel_find(*c, *expr));
  });
}

// Parses and compiles a sequence or property; the leaves' truths per cycle.
bool prepare(const CycleTrace& c, std::string_view text, bool property, PyObject* disable, CompiledProgram& out,
             std::vector<std::vector<std::uint64_t>>& truths) {
  ParsedSeq parsed = property ? parse_property(text, c.base(), cycle_functions())
                              : parse_sequence(text, c.base(), cycle_functions());
  if (!parsed.program.prop) {
    raise_parse_error(parsed.error);
    return false;
  }
  if (disable != nullptr && disable != Py_None) {
    std::string_view dtext;
    if (!arg_str(disable, "disable_iff", dtext)) return false;
    ParsedExpr d = parse_expression(dtext, c.base(), cycle_functions());
    if (!d.expr) {
      raise_parse_error(d.error);
      return false;
    }
    if (parsed.program.leaves.size() >= 64) {
      PyErr_SetString(PyExc_ValueError, "more than 64 distinct conditions");
      return false;
    }
    auto outer = std::make_unique<PropNode>();
    outer->kind = PropNode::Kind::Disable;
    outer->leaf = static_cast<std::uint32_t>(parsed.program.leaves.size());
    parsed.program.leaves.push_back(d.expr);
    outer->child = std::move(parsed.program.prop);
    parsed.program.prop = std::move(outer);
  }
  std::string error;
  if (!compile_program(std::move(parsed.program), out, error)) {
    PyErr_SetString(PyExc_ValueError, error.c_str());
    return false;
  }
  truths = leaf_truths(c, c.cycle_count(), out.leaves);
  return true;
}

// matches(seq, parallel=True) -> (start: bytes, end: bytes)
PyObject* matches(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<2> params{"matches", {"seq", "parallel"}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 2> a{};
    std::string_view text;
    const CycleTrace* c = receiver(self);
    if (c == nullptr || !bind_some_args(params, 1, args, nargs, kwnames, a) || !arg_str(a[0], "seq", text))
      return nullptr;
    const int parallel = a[1] == nullptr ? 1 : PyObject_IsTrue(a[1]);
    if (parallel < 0) return nullptr;
    CompiledProgram program;
    std::vector<std::vector<std::uint64_t>> truths;
    if (!prepare(*c, text, false, nullptr, program, truths)) return nullptr;
    const SeqMatches m = run_matches(program, truths, c->cycle_count(), parallel != 0);
    PyRef s(bytes_of(m.start)), e(bytes_of(m.end));
    if (!s || !e) return nullptr;
    return PyTuple_Pack(2, s.get(), e.get());
  });
}

// check(prop, disable_iff=None, parallel=True) -> dict of counts and failure bytes
PyObject* check(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<3> params{"check", {"prop", "disable_iff", "parallel"}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 3> a{};
    std::string_view text;
    const CycleTrace* c = receiver(self);
    if (c == nullptr || !bind_some_args(params, 1, args, nargs, kwnames, a) || !arg_str(a[0], "prop", text))
      return nullptr;
    const int parallel = a[2] == nullptr ? 1 : PyObject_IsTrue(a[2]);
    if (parallel < 0) return nullptr;
    CompiledProgram program;
    std::vector<std::vector<std::uint64_t>> truths;
    if (!prepare(*c, text, true, a[1], program, truths)) return nullptr;
    const CheckResult r = run_check(program, truths, c->cycle_count(), parallel != 0);
    std::vector<std::uint64_t> start_times, fail_times;
    for (Index s : r.failure_start) start_times.push_back(c->timestamp(s));
    for (Index f : r.failure_cycle) fail_times.push_back(c->timestamp(f));
    return Py_BuildValue("{sKsKsKsKsKsKsNsNsNsN}", "attempts", (unsigned long long)r.attempts, "passed",
                         (unsigned long long)r.passed, "failed", (unsigned long long)r.failed, "vacuous",
                         (unsigned long long)r.vacuous, "pending", (unsigned long long)r.pending, "disabled",
                         (unsigned long long)r.disabled, "failure_start", bytes_of(r.failure_start),
                         "failure_cycle", bytes_of(r.failure_cycle), "failure_start_time", bytes_of(start_times),
                         "failure_time", bytes_of(fail_times));
  });
}

constexpr int kMethod = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef py_cycles_methods[] = {
    {"sample", as_method(sample), kMethod | METH_CLASS, "sample(trace, clock, edge, first, end, after)\n--\n\n"},
    {"cycle_count", as_method(cycle_count), kMethod, "cycle_count($self)\n--\n\n"},
    {"indices", as_method(edges<false>), kMethod, "indices($self)\n--\n\n"},
    {"times", as_method(edges<true>), kMethod, "times($self)\n--\n\n"},
    {"eval", as_method(eval), kMethod, "eval($self, expr)\n--\n\n"},
    {"find", as_method(search<false>), kMethod, "find($self, expr)\n--\n\n"},
    {"count", as_method(search<true>), kMethod, "count($self, expr)\n--\n\n"},
    {"matches", as_method(matches), kMethod, "matches($self, seq, parallel=True)\n--\n\n"},
    {"check", as_method(check), kMethod, "check($self, prop, disable_iff=None, parallel=True)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot py_cycles_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(py_cycles_dealloc)},
    {Py_tp_methods, py_cycles_methods},
    {0, nullptr},
};

PyType_Spec py_cycles_spec = {
    "quarn._core.PyCycles",
    sizeof(PyCyclesObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
    py_cycles_slots,
};

// PyTrace.cycles(*args, **kwargs) -> quarn.cycles.make_cycles(self, *args, **kwargs)
PyObject* trace_cycles(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyRef module(PyImport_ImportModule("quarn.cycles"));
  if (!module) return nullptr;
  PyRef make(PyObject_GetAttrString(module.get(), "make_cycles"));
  if (!make) return nullptr;
  const Py_ssize_t n = PyTuple_GET_SIZE(args);
  PyRef full(PyTuple_New(n + 1));
  if (!full) return nullptr;
  Py_INCREF(self);
  PyTuple_SET_ITEM(full.get(), 0, self);
  for (Py_ssize_t k = 0; k < n; ++k) {
    PyObject* item = PyTuple_GET_ITEM(args, k);
    Py_INCREF(item);
    PyTuple_SET_ITEM(full.get(), k + 1, item);
  }
  return PyObject_Call(make.get(), full.get(), kwargs);
}

}  // namespace

PyMethodDef py_trace_cycle_methods[] = {
    {"cycles", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(trace_cycles)), METH_VARARGS | METH_KEYWORDS,
     "cycles($self, clock, edge='rise', start=None, end=None, sample='before')\n--\n\n"
     "The trace sampled at the edges of `clock`: a quarn.Cycles."},
    {nullptr, nullptr, 0, nullptr},
};

PyObject* register_py_cycles(PyObject* module) { return PyType_FromModuleAndSpec(module, &py_cycles_spec, nullptr); }

}  // namespace quarn::py
