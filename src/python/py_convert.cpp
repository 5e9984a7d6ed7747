#include "py_convert.h"

#include <string>

#include "eval/changes.h"
#include "eval/snapshot.h"
#include "eval/stats.h"
#include "py_collector.h"
#include "py_ref.h"
#include "signal/signal_value.h"
#include "signal/value_view.h"
#include "trace/trace.h"

namespace quarn::py {
namespace {

// The words as one unsigned int; word 0 holds bits 0..63. Goes through hex
// text because the public API has no bulk constructor before 3.13.
PyObject* words_to_py(const SignalValue::Words& words) {
  if (words.empty()) return PyLong_FromUnsignedLongLong(0);
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(words.size() * 16);
  for (auto w = words.rbegin(); w != words.rend(); ++w)
    for (int shift = 60; shift >= 0; shift -= 4) hex += kDigits[(*w >> shift) & 0xF];
  return PyLong_FromString(hex.c_str(), nullptr, 16);
}

PyObject* str_view_to_py(std::string_view s) {
  return PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "replace");
}

// (first, old, new) with `first` a new reference or null.
PyObject* triple_to_py(PyObject* first, const SignalValue& old_value, const SignalValue& new_value) {
  PyRef a(first);
  if (!a) return nullptr;
  PyRef b(signal_value_to_py(old_value));
  if (!b) return nullptr;
  PyRef c(signal_value_to_py(new_value));
  if (!c) return nullptr;
  return PyTuple_Pack(3, a.get(), b.get(), c.get());
}

// A list with one item per record, made by `item` (a new reference or null).
template <class T, class F>
PyObject* list_to_py(const std::vector<T>& records, F item) {
  PyRef list(PyList_New(static_cast<Py_ssize_t>(records.size())));
  if (!list) return nullptr;
  Py_ssize_t k = 0;
  for (const T& r : records) {
    PyObject* obj = item(r);
    if (obj == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), k++, obj);
  }
  return list.release();
}

}  // namespace

PyObject* signal_value_to_py(const SignalValue& value) {
  switch (value.tag()) {
    case ValueTag::Bits:
      return PyLong_FromUnsignedLongLong(value.as_bits());
    case ValueTag::WideBits:
      return words_to_py(value.as_wide_bits());
    case ValueTag::Real:
      return PyFloat_FromDouble(value.as_real());
    case ValueTag::Text:
      return str_to_py(value.as_text());
    case ValueTag::Logic:
    case ValueTag::Empty:
      break;
  }
  Py_RETURN_NONE;
}

bool signal_values_into_list(const std::vector<SignalValue>& values, PyObject* list, Py_ssize_t start) {
  for (const SignalValue& v : values) {
    PyObject* item = signal_value_to_py(v);
    if (item == nullptr) return false;
    PyList_SET_ITEM(list, start++, item);
  }
  return true;
}

PyObject* u64_to_py(std::uint64_t v) { return PyLong_FromUnsignedLongLong(v); }

PyObject* i64_to_py(std::int64_t v) { return PyLong_FromLongLong(v); }

PyObject* optional_u64_to_py(const std::optional<std::uint64_t>& v) {
  if (!v) Py_RETURN_NONE;
  return PyLong_FromUnsignedLongLong(*v);
}

PyObject* str_to_py(std::string_view s) {
  return PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "replace");
}

PyObject* str_list_to_py(const std::vector<std::string>& items) {
  PyRef list(PyList_New(static_cast<Py_ssize_t>(items.size())));
  if (!list) return nullptr;
  Py_ssize_t k = 0;
  for (const std::string& s : items) {
    PyObject* item = str_to_py(s);
    if (item == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), k++, item);
  }
  return list.release();
}

PyObject* signal_names_to_py(const Trace& trace) {
  PyRef list(PyList_New(0));
  if (!list) return nullptr;
  bool failed = false;
  trace.each_signal_name([&](std::string_view name) {
    if (failed) return;
    PyRef item(str_to_py(name));
    failed = !item || PyList_Append(list.get(), item.get()) != 0;
  });
  return failed ? nullptr : list.release();
}

PyObject* value_view_to_py(const ValueView& value) {
  switch (value.tag) {
    case ValueTag::Bits:
      return PyLong_FromUnsignedLongLong(value.scalar);
    case ValueTag::Real:
      return PyFloat_FromDouble(value.real_value());
    case ValueTag::Text:
      return str_view_to_py(std::string_view(static_cast<const char*>(value.data), value.size));
    case ValueTag::WideBits:
      return signal_value_to_py(to_value(value));  // rare; words may sit unaligned in storage
    case ValueTag::Logic:
    case ValueTag::Empty:
      break;
  }
  Py_RETURN_NONE;
}

PyObject* optional_str_to_py(const std::optional<std::string>& v) {
  if (!v) Py_RETURN_NONE;
  return str_to_py(*v);
}

PyObject* changes_to_py(const std::vector<Change>& changes) {
  const CollectorPause pause;
  return list_to_py(changes,
                    [](const Change& c) { return triple_to_py(str_to_py(c.name), c.old_value, c.new_value); });
}

PyObject* transitions_to_py(const Trace& trace, std::string_view name) {
  // Straight into the list: a list of the values first would take as much
  // memory again as the answer.
  PyRef list(PyList_New(0));
  if (!list) return nullptr;
  const CollectorPause pause;
  // A change's old value is usually the one before's new value: a number is
  // then shared rather than made again (a fifth of the answer's memory).
  PyRef last;
  ValueView last_view;
  const auto to_py = [&](const ValueView& v) -> PyObject* {
    const bool scalar = v.tag == ValueTag::Bits || v.tag == ValueTag::Real;
    if (scalar && last && v.tag == last_view.tag && v.scalar == last_view.scalar) {
      Py_INCREF(last.get());
      return last.get();
    }
    return value_view_to_py(v);
  };
  const bool whole = for_each_transition(trace, name, [&](Index index, const ValueView& old_value, const ValueView& new_value) {
    PyRef a(PyLong_FromUnsignedLongLong(index));
    if (!a) return false;
    PyRef b(to_py(old_value));
    if (!b) return false;
    PyRef c(value_view_to_py(new_value));
    if (!c) return false;
    PyRef item(PyTuple_Pack(3, a.get(), b.get(), c.get()));
    if (!item || PyList_Append(list.get(), item.get()) != 0) return false;
    last = std::move(c);
    last_view = new_value;
    return true;
  });
  return whole ? list.release() : nullptr;
}

PyObject* snapshot_to_py(const std::vector<SnapshotEntry>& entries) {
  PyRef dict(PyDict_New());
  if (!dict) return nullptr;
  for (const SnapshotEntry& e : entries) {
    PyRef key(str_view_to_py(e.key));
    if (!key) return nullptr;
    PyRef value(value_view_to_py(e.value));
    if (!value || PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) return nullptr;
  }
  return dict.release();
}

PyObject* stats_to_py(const SignalStats& s) {
  return Py_BuildValue("(KKKKKKK)", static_cast<unsigned long long>(s.min), static_cast<unsigned long long>(s.max),
                       static_cast<unsigned long long>(s.sum), static_cast<unsigned long long>(s.count),
                       static_cast<unsigned long long>(s.transitions), static_cast<unsigned long long>(s.num_x),
                       static_cast<unsigned long long>(s.num_z));
}

PyObject* column_load_to_py(const ColumnLoad& load, const std::string& error) {
  PyRef err(error.empty() ? Py_NewRef(Py_None) : str_to_py(error));
  if (!err) return nullptr;
  return Py_BuildValue("{sKsKsKsO}", "loaded", static_cast<unsigned long long>(load.loaded), "total",
                       static_cast<unsigned long long>(load.total), "bytes", static_cast<unsigned long long>(load.bytes),
                       "error", err.get());
}

}  // namespace quarn::py
