#include "py_trace_queries.h"

#include <array>
#include <string_view>

#include "eval/changes.h"
#include "eval/name_search.h"
#include "eval/scope.h"
#include "eval/snapshot.h"
#include "eval/stats.h"
#include "py_args.h"
#include "py_convert.h"
#include "py_errors.h"
#include "py_trace.h"
#include "signal/types.h"

namespace quarn::py {
namespace {

// Binds the one str argument of a query method; null trace on failure.
const Trace* bind_str(const Params<1>& params, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames, std::string_view& text) {
  std::array<PyObject*, 1> a;
  const Trace* t = trace_of(self);
  if (t == nullptr || !bind_args(params, args, nargs, kwnames, a) || !arg_str(a[0], params.names[0], text))
    return nullptr;
  return t;
}

// Binds (index) or (index, scope).
template <std::size_t N>
const Trace* bind_index(const Params<N>& params, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames, Index& index, std::string_view* scope) {
  std::array<PyObject*, N> a;
  const Trace* t = trace_of(self);
  if (t == nullptr || !bind_args(params, args, nargs, kwnames, a) || !arg_u64(a[0], params.names[0], index))
    return nullptr;
  if constexpr (N == 2) {
    if (!arg_str(a[1], params.names[1], *scope)) return nullptr;
  }
  return t;
}

}  // namespace

PyObject* changed_at(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{"changed_at", {"index"}};
  return guarded([&]() -> PyObject* {
    Index index = 0;
    const Trace* t = bind_index(params, self, args, nargs, kwnames, index, nullptr);
    return t ? changes_to_py(quarn::changed_at(*t, index)) : nullptr;
  });
}

PyObject* changed_at_scope(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<2> params{"changed_at_scope", {"index", "scope"}};
  return guarded([&]() -> PyObject* {
    Index index = 0;
    std::string_view scope;
    const Trace* t = bind_index(params, self, args, nargs, kwnames, index, &scope);
    return t ? changes_to_py(quarn::changed_at_scope(*t, index, scope)) : nullptr;
  });
}

PyObject* transitions(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{"transitions", {"name"}};
  return guarded([&]() -> PyObject* {
    std::string_view name;
    const Trace* t = bind_str(params, self, args, nargs, kwnames, name);
    return t ? transitions_to_py(quarn::transitions(*t, name)) : nullptr;
  });
}

PyObject* snapshot(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{"snapshot", {"index"}};
  return guarded([&]() -> PyObject* {
    Index index = 0;
    const Trace* t = bind_index(params, self, args, nargs, kwnames, index, nullptr);
    return t ? snapshot_to_py(quarn::snapshot(*t, index)) : nullptr;
  });
}

PyObject* snapshot_scope(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<2> params{"snapshot_scope", {"index", "scope"}};
  return guarded([&]() -> PyObject* {
    Index index = 0;
    std::string_view scope;
    const Trace* t = bind_index(params, self, args, nargs, kwnames, index, &scope);
    return t ? snapshot_to_py(quarn::snapshot_scope(*t, index, scope)) : nullptr;
  });
}

PyObject* signal_stats(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{"signal_stats", {"name"}};
  return guarded([&]() -> PyObject* {
    std::string_view name;
    const Trace* t = bind_str(params, self, args, nargs, kwnames, name);
    return t ? stats_to_py(compute_stats(*t, name)) : nullptr;
  });
}

PyObject* local_scopes(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{"local_scopes", {"scope_name"}};
  return guarded([&]() -> PyObject* {
    std::string_view scope;
    const Trace* t = bind_str(params, self, args, nargs, kwnames, scope);
    return t ? str_list_to_py(quarn::local_scopes(*t, scope)) : nullptr;
  });
}

PyObject* local_signals(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{"local_signals", {"scope_name"}};
  return guarded([&]() -> PyObject* {
    std::string_view scope;
    const Trace* t = bind_str(params, self, args, nargs, kwnames, scope);
    return t ? str_list_to_py(quarn::local_signals(*t, scope)) : nullptr;
  });
}

PyObject* resolve(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<2> params{"resolve", {"scope_name", "short_name"}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 2> a;
    std::string_view scope;
    std::string_view short_name;
    const Trace* t = trace_of(self);
    if (t == nullptr || !bind_args(params, args, nargs, kwnames, a) || !arg_str(a[0], "scope_name", scope) ||
        !arg_str(a[1], "short_name", short_name))
      return nullptr;
    return optional_str_to_py(quarn::resolve(*t, scope, short_name));
  });
}

PyObject* find_signals_glob(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{"find_signals_glob", {"pattern"}};
  return guarded([&]() -> PyObject* {
    std::string_view pattern;
    const Trace* t = bind_str(params, self, args, nargs, kwnames, pattern);
    return t ? str_list_to_py(quarn::find_signals_glob(*t, pattern)) : nullptr;
  });
}

PyObject* find_signals_containing(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{"find_signals_containing", {"substring"}};
  return guarded([&]() -> PyObject* {
    std::string_view substring;
    const Trace* t = bind_str(params, self, args, nargs, kwnames, substring);
    return t ? str_list_to_py(quarn::find_signals_containing(*t, substring)) : nullptr;
  });
}

}  // namespace quarn::py
