#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace quarn::py {

/// Sets the Python exception for the C++ exception being handled:
/// std::bad_alloc -> MemoryError, any other exception -> RuntimeError.
/// Call only from inside a catch block.
void set_error_from_current_exception() noexcept;

/// The module's own exception types, held in its state.
struct ErrorTypes {
  PyObject* trace_error = nullptr;    ///< TraceError(ValueError): a reader failed
  PyObject* trace_warning = nullptr;  ///< TraceWarning(UserWarning): a reader skipped input
};

/// The definition of `quarn._core` (its state is an `ErrorTypes`).
PyModuleDef* core_module_def();

/// Creates TraceError and TraceWarning into `types` and adds them to `module`.
int add_error_types(PyObject* module, ErrorTypes& types);

/// Raises a reader's failure message, unchanged, as the TraceError of the
/// module that defines `cls` (a PyTrace class), with the attributes `path`,
/// `line` and `column` (line and column 0: None); returns null.
PyObject* raise_load_error(PyObject* cls, const std::string& message, std::string_view path, std::uint64_t line = 0,
                           std::uint64_t column = 0);

/// `raise_load_error` for a function of `module` (quarn._core) itself.
PyObject* raise_module_load_error(PyObject* module, const std::string& message, std::string_view path);

/// Issues `message` as a TraceWarning; false when that raised (warnings
/// turned into errors).
bool warn_load(PyObject* cls, const std::string& message);

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
