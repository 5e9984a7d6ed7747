#include "py_expr.h"

#include <array>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "eval/expr.h"
#include "py_args.h"
#include "py_errors.h"

namespace quarn::py {
namespace {

using FastMethod = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

// PyMethodDef stores every calling convention as PyCFunction; the detour via
// void(*)() keeps -Wcast-function-type quiet about the intended cast.
PyCFunction as_method(FastMethod f) { return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f)); }

void py_expr_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  // The tree frees itself without recursion, however deep.
  reinterpret_cast<PyExprObject*>(self)->expr.~shared_ptr();
  type->tp_free(self);
  // Instances of heap types own a reference to their type.
  Py_DECREF(type);
}

PyObject* new_py_expr(PyTypeObject* type, ExprPtr expr) {
  PyObject* obj = type->tp_alloc(type, 0);
  if (obj == nullptr) return nullptr;
  new (&reinterpret_cast<PyExprObject*>(obj)->expr) ExprPtr(std::move(expr));
  return obj;
}

const ExprPtr& tree(PyObject* obj) { return reinterpret_cast<PyExprObject*>(obj)->expr; }

// Static constructors: class methods, so that they reach the class they were
// called on without module state.

PyObject* signal(PyObject* type, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{"signal", {"id"}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 1> a;
    SignalId id = 0;
    if (!bind_args(params, args, nargs, kwnames, a) || !arg_u64(a[0], "id", id)) return nullptr;
    return new_py_expr(reinterpret_cast<PyTypeObject*>(type), make_signal(id));
  });
}

PyObject* const_int(PyObject* type, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{"const_int", {"val"}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 1> a;
    std::uint64_t val = 0;
    if (!bind_args(params, args, nargs, kwnames, a) || !arg_u64(a[0], "val", val)) return nullptr;
    return new_py_expr(reinterpret_cast<PyTypeObject*>(type), make_const(SignalValue::bits(val)));
  });
}

PyObject* const_float(PyObject* type, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{"const_float", {"val"}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 1> a;
    double val = 0;
    if (!bind_args(params, args, nargs, kwnames, a) || !arg_f64(a[0], "val", val)) return nullptr;
    return new_py_expr(reinterpret_cast<PyTypeObject*>(type), make_const(SignalValue::real(val)));
  });
}

PyObject* const_str(PyObject* type, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{"const_str", {"val"}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 1> a;
    std::string_view val;
    if (!bind_args(params, args, nargs, kwnames, a) || !arg_str(a[0], "val", val)) return nullptr;
    return new_py_expr(reinterpret_cast<PyTypeObject*>(type), make_const(SignalValue::text(std::string(val))));
  });
}

PyObject* always_true(PyObject* type, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<0> params{"always_true", {}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 0> a;
    if (!bind_args(params, args, nargs, kwnames, a)) return nullptr;
    return new_py_expr(reinterpret_cast<PyTypeObject*>(type), make_always_true());
  });
}

// Instance methods: the receiver becomes the (left) child.

bool check_receiver(PyObject* self) {
  if (py_expr_check(self)) return true;
  raise_not_instance(self, "PyExpr");
  return false;
}

PyObject* rel_eval(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{"rel_eval", {"offset"}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 1> a;
    std::int64_t offset = 0;
    if (!bind_args(params, args, nargs, kwnames, a) || !check_receiver(self) || !arg_i64(a[0], "offset", offset))
      return nullptr;
    return new_py_expr(Py_TYPE(self), make_rel_eval(tree(self), offset));
  });
}

PyObject* slice(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<2> params{"slice", {"high", "low"}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 2> a;
    std::uint32_t high = 0;
    std::uint32_t low = 0;
    if (!bind_args(params, args, nargs, kwnames, a) || !check_receiver(self) || !arg_u32(a[0], "high", high) ||
        !arg_u32(a[1], "low", low))
      return nullptr;
    return new_py_expr(Py_TYPE(self), make_slice(tree(self), high, low));
  });
}

constexpr const char* method_name(ExprKind k) {
  switch (k) {
    case ExprKind::Not: return "not_";
    case ExprKind::Signed: return "signed";
    case ExprKind::IsX: return "is_x";
    case ExprKind::IsZ: return "is_z";
    case ExprKind::And: return "and_";
    case ExprKind::Or: return "or_";
    case ExprKind::Eq: return "eq_";
    case ExprKind::Neq: return "neq";
    case ExprKind::Gt: return "gt_";
    case ExprKind::Lt: return "lt_";
    case ExprKind::Gte: return "gte";
    case ExprKind::Lte: return "lte";
    case ExprKind::Add: return "add";
    case ExprKind::Sub: return "sub";
    case ExprKind::BitAnd: return "bit_and";
    case ExprKind::BitOr: return "bit_or";
    case ExprKind::BitXor: return "bit_xor";
    default: return "";
  }
}

template <ExprKind K>
PyObject* unary(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<0> params{method_name(K), {}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 0> a;
    if (!bind_args(params, args, nargs, kwnames, a) || !check_receiver(self)) return nullptr;
    return new_py_expr(Py_TYPE(self), make_unary(K, tree(self)));
  });
}

template <ExprKind K>
PyObject* binary(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params<1> params{method_name(K), {"other"}};
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 1> a;
    PyExprObject* other = nullptr;
    if (!bind_args(params, args, nargs, kwnames, a) || !check_receiver(self) || !arg_expr(a[0], "other", other))
      return nullptr;
    return new_py_expr(Py_TYPE(self), make_binary(K, tree(self), other->expr));
  });
}

constexpr int kStatic = METH_FASTCALL | METH_KEYWORDS | METH_CLASS;
constexpr int kMethod = METH_FASTCALL | METH_KEYWORDS;

#define QUARN_UNARY(K, NAME) {NAME, as_method(unary<ExprKind::K>), kMethod, NAME "($self)\n--\n\n"}
#define QUARN_BINARY(K, NAME) {NAME, as_method(binary<ExprKind::K>), kMethod, NAME "($self, other)\n--\n\n"}

PyMethodDef py_expr_methods[] = {
    {"signal", as_method(signal), kStatic, "signal(id)\n--\n\n"},
    {"const_int", as_method(const_int), kStatic, "const_int(val)\n--\n\n"},
    {"const_float", as_method(const_float), kStatic, "const_float(val)\n--\n\n"},
    {"const_str", as_method(const_str), kStatic, "const_str(val)\n--\n\n"},
    {"always_true", as_method(always_true), kStatic, "always_true()\n--\n\n"},
    {"rel_eval", as_method(rel_eval), kMethod, "rel_eval($self, offset)\n--\n\n"},
    QUARN_UNARY(Not, "not_"),
    {"slice", as_method(slice), kMethod, "slice($self, high, low)\n--\n\n"},
    QUARN_UNARY(Signed, "signed"),
    QUARN_UNARY(IsX, "is_x"),
    QUARN_UNARY(IsZ, "is_z"),
    QUARN_BINARY(And, "and_"),
    QUARN_BINARY(Or, "or_"),
    QUARN_BINARY(Eq, "eq_"),
    QUARN_BINARY(Neq, "neq"),
    QUARN_BINARY(Gt, "gt_"),
    QUARN_BINARY(Lt, "lt_"),
    QUARN_BINARY(Gte, "gte"),
    QUARN_BINARY(Lte, "lte"),
    QUARN_BINARY(Add, "add"),
    QUARN_BINARY(Sub, "sub"),
    QUARN_BINARY(BitAnd, "bit_and"),
    QUARN_BINARY(BitOr, "bit_or"),
    QUARN_BINARY(BitXor, "bit_xor"),
    {nullptr, nullptr, 0, nullptr},
};

#undef QUARN_UNARY
#undef QUARN_BINARY

PyType_Slot py_expr_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(py_expr_dealloc)},
    {Py_tp_methods, py_expr_methods},
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
