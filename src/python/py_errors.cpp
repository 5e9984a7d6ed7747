#include "py_errors.h"

#include "py_ref.h"

#include <exception>
#include <new>

namespace quarn::py {

void set_error_from_current_exception() noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
  } catch (...) {
    PyErr_SetString(PyExc_RuntimeError, "unknown C++ exception");
  }
}

int add_error_types(PyObject* module, ErrorTypes& types) {
  // Class attributes, so every instance answers them even when not set.
  PyRef attrs(Py_BuildValue("{sOsOsO}", "path", Py_None, "line", Py_None, "column", Py_None));
  if (!attrs) return -1;
  types.trace_error = PyErr_NewExceptionWithDoc(
      "quarn._core.TraceError",
      "A trace could not be loaded. Attributes: path, line, column (None where not known).", PyExc_ValueError,
      attrs.get());
  if (types.trace_error == nullptr) return -1;
  types.trace_warning = PyErr_NewExceptionWithDoc(
      "quarn._core.TraceWarning", "A trace loaded, but some of its input was skipped or read with a default.",
      PyExc_UserWarning, nullptr);
  if (types.trace_warning == nullptr) return -1;
  if (PyModule_AddObjectRef(module, "TraceError", types.trace_error) < 0) return -1;
  return PyModule_AddObjectRef(module, "TraceWarning", types.trace_warning);
}

namespace {

ErrorTypes* error_types_of(PyObject* cls) {
  PyObject* module = PyType_GetModuleByDef(reinterpret_cast<PyTypeObject*>(cls), core_module_def());
  return module ? static_cast<ErrorTypes*>(PyModule_GetState(module)) : nullptr;
}

PyObject* text_of(std::string_view s) {
  return PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "replace");
}

PyObject* position_of(std::uint64_t n) {
  if (n == 0) return Py_NewRef(Py_None);
  return PyLong_FromUnsignedLongLong(n);
}

}  // namespace

namespace {

PyObject* raise_trace_error(ErrorTypes* types, const std::string& message, std::string_view path, std::uint64_t line,
                            std::uint64_t column) {
  if (types == nullptr) return nullptr;
  PyRef text(text_of(message));
  if (!text) return nullptr;
  PyRef error(PyObject_CallOneArg(types->trace_error, text.get()));
  if (!error) return nullptr;
  PyRef path_obj(path.data() ? text_of(path) : Py_NewRef(Py_None));
  PyRef line_obj(position_of(line));
  PyRef column_obj(position_of(column));
  if (!path_obj || !line_obj || !column_obj || PyObject_SetAttrString(error.get(), "path", path_obj.get()) < 0 ||
      PyObject_SetAttrString(error.get(), "line", line_obj.get()) < 0 ||
      PyObject_SetAttrString(error.get(), "column", column_obj.get()) < 0)
    return nullptr;
  PyErr_SetObject(types->trace_error, error.get());
  return nullptr;
}

}  // namespace

PyObject* raise_load_error(PyObject* cls, const std::string& message, std::string_view path, std::uint64_t line,
                           std::uint64_t column) {
  return raise_trace_error(error_types_of(cls), message, path, line, column);
}

PyObject* raise_module_load_error(PyObject* module, const std::string& message, std::string_view path) {
  return raise_trace_error(static_cast<ErrorTypes*>(PyModule_GetState(module)), message, path, 0, 0);
}

bool warn_load(PyObject* cls, const std::string& message) {
  ErrorTypes* types = error_types_of(cls);
  if (types == nullptr) return false;
  // Level 1: the warning points at the caller of the constructor.
  return PyErr_WarnEx(types->trace_warning, message.c_str(), 1) == 0;
}

}  // namespace quarn::py
