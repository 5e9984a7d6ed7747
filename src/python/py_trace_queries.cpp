#include "py_trace_queries.h"

#include <array>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "eval/eval.h"
#include "eval/expr.h"
#include "eval/find.h"
#include "py_args.h"
#include "py_collector.h"
#include "py_convert.h"
#include "py_errors.h"
#include "py_expr.h"
#include "py_numpy.h"
#include "py_ref.h"
#include "py_trace.h"
#include "signal/value_view.h"
#include "trace/trace.h"

namespace quarn::py {
namespace {

using FastMethod = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

PyCFunction as_method(FastMethod f) { return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f)); }

const Trace* receiver(PyObject* self) {
  if (!py_trace_check(self)) {
    raise_not_instance(self, "PyTrace");
    return nullptr;
  }
  return reinterpret_cast<PyTraceObject*>(self)->trace.get();
}

// Python ints gathered part by part, then moved into one list of the final
// size. Growing the list itself by appending would copy its items many
// times over (it grows by an eighth at a time). Owns the ints until
// `release`, so a failure part way frees them.
class IntListBuilder {
 public:
  IntListBuilder() = default;
  IntListBuilder(const IntListBuilder&) = delete;
  IntListBuilder& operator=(const IntListBuilder&) = delete;
  ~IntListBuilder() {
    for (PyObject* o : items_) Py_DECREF(o);
  }

  /// False, with a Python error set, when an int cannot be made.
  bool add(std::span<const Index> part) {
    for (Index i : part) {
      PyObject* item = u64_to_py(i);
      if (item == nullptr) return false;
      items_.push_back(item);
    }
    return true;
  }

  PyObject* release() {
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(items_.size()));
    if (list == nullptr) return nullptr;
    for (std::size_t k = 0; k < items_.size(); ++k) PyList_SET_ITEM(list, static_cast<Py_ssize_t>(k), items_[k]);
    items_.clear();
    return list;
  }

 private:
  std::vector<PyObject*> items_;
};

// The shared shape of find, parallel_find and parallel_count: (expr) -> result.
template <class Run>
PyObject* search(const char* name, PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                 Run run) {
  const std::array<const char*, 1> names{"expr"};
  std::array<PyObject*, 1> a;
  ExprPtr expr;
  const Trace* t = receiver(self);
  if (t == nullptr || !bind_args(name, names.data(), 1, 1, args, nargs, kwnames, a.data()) ||
      !arg_expr_or_text(a[0], "expr", *t, expr))
    return nullptr;
  return run(*t, *expr);
}

PyObject* find(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    return search("find", self, args, nargs, kwnames,
                  [](const Trace& t, const Expr& e) -> PyObject* {
                    IntListBuilder ints;
                    bool ok = true;
                    quarn::find_parts(t, e, [&](std::span<const Index> part) { return ok = ints.add(part); });
                    return ok ? ints.release() : nullptr;
                  });
  });
}

PyObject* parallel_find(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    return search("parallel_find", self, args, nargs, kwnames,
                  [](const Trace& t, const Expr& e) -> PyObject* {
                    // The ints of one part are made while the pool searches the next ones.
                    IntListBuilder ints;
                    bool ok = true;
                    quarn::parallel_find_parts(t, e, [&](std::span<const Index> part) { return ok = ints.add(part); });
                    return ok ? ints.release() : nullptr;
                  });
  });
}

// The matches as a numpy uint64 array: no Python int per match, so a search
// with many matches costs the search alone.
PyObject* find_array(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    return search("find_array", self, args, nargs, kwnames, [](const Trace& t, const Expr& e) -> PyObject* {
      return numpy_from_vector(quarn::parallel_find(t, e), "<u8");
    });
  });
}

PyObject* parallel_count(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    return search("parallel_count", self, args, nargs, kwnames,
                  [](const Trace& t, const Expr& e) { return u64_to_py(quarn::parallel_count(t, e)); });
  });
}

// (expr, index) -> the converted value, or its truth.
template <bool AsBool>
PyObject* eval_at(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<2> params{AsBool ? "eval_expr_bool" : "eval_expr", {"expr", "index"}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 2> a;
    ExprPtr expr;
    Index index = 0;
    const Trace* t = receiver(self);
    if (t == nullptr || !bind_args(params, args, nargs, kwnames, a) || !arg_expr_or_text(a[0], "expr", *t, expr) ||
        !arg_u64(a[1], "index", index))
      return nullptr;
    if constexpr (AsBool) {
      return PyBool_FromLong(eval_bool(*t, *expr, index));
    } else {
      return signal_value_to_py(eval(*t, *expr, index));
    }
  });
}

PyObject* find_with_values(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<2> params{"find_with_values", {"expr", "signal_names"}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 2> a;
    ExprPtr expr;
    std::vector<std::string> names;
    const Trace* t = receiver(self);
    if (t == nullptr || !bind_args(params, args, nargs, kwnames, a) || !arg_expr_or_text(a[0], "expr", *t, expr) ||
        !arg_str_list(a[1], "signal_names", names))
      return nullptr;
    // Ids resolved once; a name without one reads as Empty, hence None.
    std::vector<std::optional<SignalId>> ids;
    ids.reserve(names.size());
    for (const std::string& n : names) ids.push_back(t->signal_id(n));
    const FoundValues found = quarn::find_with_values(*t, *expr, ids);

    const CollectorPause pause;
    PyRef list(PyList_New(static_cast<Py_ssize_t>(found.indices.size())));
    if (!list) return nullptr;
    const ValueView* v = found.values.data();
    for (std::size_t m = 0; m < found.indices.size(); ++m) {
      PyRef values(PyList_New(static_cast<Py_ssize_t>(ids.size())));
      if (!values) return nullptr;
      for (std::size_t c = 0; c < ids.size(); ++c) {
        PyObject* item = signal_value_to_py(to_value(*v++));
        if (item == nullptr) return nullptr;
        PyList_SET_ITEM(values.get(), static_cast<Py_ssize_t>(c), item);
      }
      PyRef index(u64_to_py(found.indices[m]));
      if (!index) return nullptr;
      PyObject* pair = PyTuple_Pack(2, index.get(), values.get());
      if (pair == nullptr) return nullptr;
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(m), pair);
    }
    return list.release();
  });
}

constexpr int kMethod = METH_FASTCALL | METH_KEYWORDS;

}  // namespace

PyMethodDef py_trace_query_methods[] = {
    {"find", as_method(find), kMethod, "find($self, expr)\n--\n\nThe indices at which the PyExpr `expr` is true, ascending, searched in one\npass on this thread."},
    {"parallel_find", as_method(parallel_find), kMethod,
     "parallel_find($self, expr)\n--\n\nFind matching indices using parallel iteration across all CPU cores."},
    {"find_array", as_method(find_array), kMethod,
     "find_array($self, expr)\n--\n\nThe indices at which `expr` is true, ascending, as a numpy uint64 array;\nsearched on all cores. The same indices as parallel_find, without a Python\nint per match."},
    {"parallel_count", as_method(parallel_count), kMethod,
     "parallel_count($self, expr)\n--\n\nCount matching indices using parallel iteration."},
    {"eval_expr", as_method(eval_at<false>), kMethod, "eval_expr($self, expr, index)\n--\n\nThe value of `expr` at `index`: int, float, str, or None for x/z or no value."},
    {"eval_expr_bool", as_method(eval_at<true>), kMethod, "eval_expr_bool($self, expr, index)\n--\n\nWhether `expr` is true at `index` (nonzero, has a 1 bit, non-empty text)."},
    {"find_with_values", as_method(find_with_values), kMethod,
     "find_with_values($self, expr, signal_names)\n--\n\n"
     "Find with value extraction in one pass: returns list of (index, [values]) tuples.\n"
     "Resolves signal IDs once upfront, uses signal_value_by_id in the hot loop."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace quarn::py
