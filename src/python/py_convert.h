#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarn {
class SignalValue;
struct Change;
struct ColumnLoad;
struct SignalStats;
struct SnapshotEntry;
class Trace;
struct ValueView;
}

namespace quarn::py {

// Each returns a new reference, or null with the Python exception set.

/// Bits and WideBits -> the unsigned int; Real -> float; Text -> str (bytes
/// that are not UTF-8 become U+FFFD); Logic and Empty -> None.
PyObject* signal_value_to_py(const SignalValue& value);
/// Converts `values` into the slots of `list` from `start` on. On failure the
/// slots filled so far stay owned by the list; returns false.
bool signal_values_into_list(const std::vector<SignalValue>& values, PyObject* list, Py_ssize_t start);

PyObject* u64_to_py(std::uint64_t v);
PyObject* i64_to_py(std::int64_t v);
PyObject* optional_u64_to_py(const std::optional<std::uint64_t>& v);
PyObject* str_to_py(std::string_view s);
/// The trace's signal names as a list of str, without keeping a C++ copy.
PyObject* signal_names_to_py(const Trace& trace);
/// A new list of new str objects, in order.
PyObject* str_list_to_py(const std::vector<std::string>& items);

/// A viewed value, converted as `signal_value_to_py` converts its copy.
PyObject* value_view_to_py(const ValueView& value);
/// A str, or None when absent.
PyObject* optional_str_to_py(const std::optional<std::string>& v);
/// [(name, old, new), ...] in order.
PyObject* changes_to_py(const std::vector<Change>& changes);
/// [(index, old, new), ...] of `name` in order, made as they are found.
PyObject* transitions_to_py(const Trace& trace, std::string_view name);
/// {key: value}, filled in order.
PyObject* snapshot_to_py(const std::vector<SnapshotEntry>& entries);
/// (min, max, sum, count, transitions, num_x, num_z).
PyObject* stats_to_py(const SignalStats& stats);
/// {"loaded": int, "total": int, "bytes": int, "error": str or None ("")}.
PyObject* column_load_to_py(const ColumnLoad& load, const std::string& error);

}  // namespace quarn::py
