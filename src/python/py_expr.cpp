#include "py_expr.h"

namespace quarn::py {
namespace {

void py_expr_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  type->tp_free(self);
  // Instances of heap types own a reference to their type.
  Py_DECREF(type);
}

PyType_Slot py_expr_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(py_expr_dealloc)},
    {0, nullptr},
};

PyType_Spec py_expr_spec = {
    "quarn._core.PyExpr",
    sizeof(PyExprObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
    py_expr_slots,
};

}  // namespace

PyObject* register_py_expr(PyObject* module) { return PyType_FromModuleAndSpec(module, &py_expr_spec, nullptr); }

// Each module instance has its own type object, but all share this dealloc,
// which identifies them without keeping any per-module state.
bool py_expr_check(PyObject* obj) { return Py_TYPE(obj)->tp_dealloc == py_expr_dealloc; }

}  // namespace quarn::py
