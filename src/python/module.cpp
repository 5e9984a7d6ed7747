// Entry point of the extension module `quarn._core`.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <string>
#include <variant>

#include "py_args.h"
#include "py_errors.h"
#include "py_expr.h"
#include "py_ref.h"
#include "py_trace.h"
#include "trace/format_detect.h"

namespace quarn::py {
namespace {

// Adds `type` to the module under `name` and appends the name to `__all__`,
// creating the list when the module has none yet.
int add_class(PyObject* module, PyObject* type, const char* name) {
  PyRef owned(type);
  if (!owned || PyModule_AddObjectRef(module, name, type) < 0) return -1;
  PyObject* dict = PyModule_GetDict(module);
  PyObject* all = PyDict_GetItemString(dict, "__all__");
  if (all == nullptr) {
    PyRef fresh(PyList_New(0));
    if (!fresh || PyDict_SetItemString(dict, "__all__", fresh.get()) < 0) return -1;
    all = fresh.get();  // the module's dict keeps it alive
  }
  PyRef text(PyUnicode_FromString(name));
  return text ? PyList_Append(all, text.get()) : -1;
}

ErrorTypes& state_of(PyObject* module) { return *static_cast<ErrorTypes*>(PyModule_GetState(module)); }

int traverse_core(PyObject* module, visitproc visit, void* arg) {
  Py_VISIT(state_of(module).trace_error);
  Py_VISIT(state_of(module).trace_warning);
  return 0;
}

int clear_core(PyObject* module) {
  Py_CLEAR(state_of(module).trace_error);
  Py_CLEAR(state_of(module).trace_warning);
  return 0;
}

void free_core(void* module) { clear_core(static_cast<PyObject*>(module)); }

PyObject* detect_format(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{"detect_format", {"path"}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 1> a;
    std::string path;
    if (!bind_args(params, args, nargs, kwnames, a) || !arg_path(a[0], "path", path)) return nullptr;
    auto detected = quarn::detect_format(path);
    if (const auto* message = std::get_if<std::string>(&detected)) return raise_module_load_error(module, *message, path);
    const auto& d = std::get<DetectedFormat>(detected);
    const std::string name(format_name(d.format));
    return Py_BuildValue("(ss)", name.c_str(), d.found.c_str());
  });
}

PyMethodDef core_functions[] = {
    {"detect_format", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(detect_format)),
     METH_FASTCALL | METH_KEYWORDS,
     "detect_format(path)\n--\n\nThe format of the trace at `path`, from its content: (name, found) with\n"
     "name one of 'vcd', 'fst', 'fsdb', 'vpd', 'wlf', 'shm', 'unknown'. found says\n"
     "what an unknown file looks like, or how a VCD is packed ('gzip', 'bzip2',\n'zstd'); else ''."},
    {nullptr, nullptr, 0, nullptr},
};

int exec_core(PyObject* module) {
  if (add_error_types(module, state_of(module)) < 0) return -1;
  if (add_class(module, register_py_trace(module), "PyTrace") < 0) return -1;
  if (add_class(module, register_py_expr(module), "PyExpr") < 0) return -1;
  return 0;
}

PyModuleDef_Slot core_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_core)},
#ifdef Py_mod_gil
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef core_module = {
    PyModuleDef_HEAD_INIT,
    "_core",
    "",
    sizeof(ErrorTypes),
    core_functions,
    core_slots,
    traverse_core,
    clear_core,
    free_core,
};

}  // namespace

PyModuleDef* core_module_def() { return &core_module; }
}  // namespace quarn::py

PyMODINIT_FUNC PyInit__core() { return PyModuleDef_Init(&quarn::py::core_module); }
