#include "py_trace_changes.h"

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
#include "trace/trace.h"

namespace quarn::py {
namespace {

using FastMethod = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

// PyMethodDef stores every calling convention as PyCFunction; the detour via
// void(*)() keeps -Wcast-function-type quiet about the intended cast.
PyCFunction as_method(FastMethod f) { return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f)); }

// The receiver's trace, or null with TypeError set.
const Trace* trace_of(PyObject* self) {
  if (!py_trace_check(self)) {
    raise_not_instance(self, "PyTrace");
    return nullptr;
  }
  return reinterpret_cast<PyTraceObject*>(self)->trace.get();
}

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
    return t ? transitions_to_py(*t, name) : nullptr;
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

constexpr int kMethod = METH_FASTCALL | METH_KEYWORDS;

}  // namespace

PyMethodDef py_trace_change_methods[] = {
    {"changed_at", as_method(changed_at), kMethod,
     "changed_at($self, index)\n--\n\nGet all signals that changed value at a specific index.\n"
     "Returns list of (name, old_value, new_value) tuples."},
    {"changed_at_scope", as_method(changed_at_scope), kMethod,
     "changed_at_scope($self, index, scope)\n--\n\nGet signals that changed at index within a scope."},
    {"transitions", as_method(transitions), kMethod,
     "transitions($self, name)\n--\n\nGet all transitions for a signal: [(index, old, new), ...]"},
    {"snapshot", as_method(snapshot), kMethod,
     "snapshot($self, index)\n--\n\nSnapshot: get all signal values at a specific index as a dict.\n"
     "Uses signal_value_by_id for O(1) access per signal."},
    {"snapshot_scope", as_method(snapshot_scope), kMethod,
     "snapshot_scope($self, index, scope)\n--\n\nSnapshot within a scope.\n"
     "Uses signal_value_by_id for O(1) access per signal."},
    {"signal_stats", as_method(signal_stats), kMethod,
     "signal_stats($self, name)\n--\n\n"
     "Compute stats for a signal: (min, max, sum, count, transitions, num_x, num_z)"},
    {"local_scopes", as_method(local_scopes), kMethod, "local_scopes($self, scope_name)\n--\n\nThe scopes directly below `scope_name` ('' for the top), as full paths;\nempty for an unknown scope."},
    {"local_signals", as_method(local_signals), kMethod, "local_signals($self, scope_name)\n--\n\nThe signals directly in `scope_name`, as full names; empty for an unknown\nscope."},
    {"resolve", as_method(resolve), kMethod, "resolve($self, scope_name, short_name)\n--\n\nThe full name that `short_name` means seen from `scope_name` (the joined\nname, else a name ending in it); None when nothing matches."},
    {"find_signals_glob", as_method(find_signals_glob), kMethod,
     "find_signals_glob($self, pattern)\n--\n\nFind signals matching a glob pattern."},
    {"find_signals_containing", as_method(find_signals_containing), kMethod,
     "find_signals_containing($self, substring)\n--\n\nFind signals containing a substring (case-insensitive)."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace quarn::py
