// Entry point of the extension module `quarn._core`.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "py_cycles.h"
#include "py_expr.h"
#include "py_ref.h"
#include "py_trace.h"

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

int exec_core(PyObject* module) {
  if (add_class(module, register_py_trace(module), "PyTrace") < 0) return -1;
  if (add_class(module, register_py_expr(module), "PyExpr") < 0) return -1;
  if (add_class(module, register_py_cycles(module), "PyCycles") < 0) return -1;
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
    0,
    nullptr,
    core_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace quarn::py

PyMODINIT_FUNC PyInit__core() { return PyModuleDef_Init(&quarn::py::core_module); }
