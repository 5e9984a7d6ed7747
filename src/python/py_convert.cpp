#include "py_convert.h"

#include <string>

#include "py_ref.h"
#include "signal/signal_value.h"

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

PyObject* str_to_py(const std::string& s) {
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

}  // namespace quarn::py
