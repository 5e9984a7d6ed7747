#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace quarn::py {

/// Owns one strong reference; releases it unless handed back with `release`.
class PyRef {
 public:
  PyRef() = default;
  /// Takes over a new reference (may be null).
  explicit PyRef(PyObject* owned) : p_(owned) {}
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  PyRef(PyRef&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
  PyRef& operator=(PyRef&& o) noexcept {
    if (this != &o) {
      Py_XDECREF(p_);
      p_ = o.p_;
      o.p_ = nullptr;
    }
    return *this;
  }
  ~PyRef() { Py_XDECREF(p_); }

  PyObject* get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  /// Gives up ownership; the caller now holds the reference.
  PyObject* release() {
    PyObject* p = p_;
    p_ = nullptr;
    return p;
  }

 private:
  PyObject* p_ = nullptr;
};

}  // namespace quarn::py
