#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>

namespace quarn::py {

/// Sets the Python exception for the C++ exception being handled:
/// std::bad_alloc -> MemoryError, any other exception -> RuntimeError.
/// Call only from inside a catch block.
void set_error_from_current_exception() noexcept;

/// Raises a reader's failure message as ValueError, unchanged; returns null.
PyObject* raise_load_error(const std::string& message);

/// Runs `body` (which returns a new reference or null with an exception set)
/// so that no C++ exception crosses into the interpreter.
template <class F>
PyObject* guarded(F&& body) noexcept {
  try {
    return body();
  } catch (...) {
    set_error_from_current_exception();
    return nullptr;
  }
}

}  // namespace quarn::py
