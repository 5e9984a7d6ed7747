#include "py_expr.h"

#include <array>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "eval/expr.h"
#include "eval/expr_text.h"
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
  reinterpret_cast<PyExprObject*>(self)->names.~shared_ptr();
  type->tp_free(self);
  // Instances of heap types own a reference to their type.
  Py_DECREF(type);
}

const ExprPtr& tree(PyObject* obj) { return reinterpret_cast<PyExprObject*>(obj)->expr; }
const std::shared_ptr<const ExprNames>& names_of(PyObject* obj) { return reinterpret_cast<PyExprObject*>(obj)->names; }

// The names of both operands, shared when only one has any.
std::shared_ptr<const ExprNames> merged_names(PyObject* a, PyObject* b) {
  const auto& x = names_of(a);
  const auto& y = b ? names_of(b) : x;
  if (!y || x == y) return x;
  if (!x) return y;
  auto both = std::make_shared<ExprNames>(*x);
  both->insert(both->end(), y->begin(), y->end());
  return both;
}

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
    std::vector<std::uint64_t> words;
    if (!bind_args(params, args, nargs, kwnames, a) || !arg_int_words(a[0], "val", words)) return nullptr;
    return new_py_expr(reinterpret_cast<PyTypeObject*>(type), make_const(int_constant(std::move(words))));
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
    return new_py_expr(Py_TYPE(self), make_rel_eval(tree(self), offset), names_of(self));
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
    return new_py_expr(Py_TYPE(self), make_slice(tree(self), high, low), names_of(self));
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
    return new_py_expr(Py_TYPE(self), make_unary(K, tree(self)), names_of(self));
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
    return new_py_expr(Py_TYPE(self), make_binary(K, tree(self), other->expr),
                       merged_names(self, reinterpret_cast<PyObject*>(other)));
  });
}

// Python operators. An operand that is an int or a float becomes a constant
// (ints as const_int takes them); anything else is not ours to combine.

PyObject* as_expr_tree(PyObject* obj, PyTypeObject* type, ExprPtr& out) {
  if (py_expr_check(obj)) {
    out = tree(obj);
    return obj;
  }
  if (PyLong_Check(obj)) {
    std::vector<std::uint64_t> words;
    if (!arg_int_words(obj, "other", words)) return nullptr;
    out = make_const(int_constant(std::move(words)));
    return reinterpret_cast<PyObject*>(type);
  }
  if (PyFloat_Check(obj)) {
    out = make_const(SignalValue::real(PyFloat_AS_DOUBLE(obj)));
    return reinterpret_cast<PyObject*>(type);
  }
  return Py_NotImplemented;
}

template <ExprKind K>
PyObject* operator_binary(PyObject* a, PyObject* b) {
  return guarded([&]() -> PyObject* {
    PyTypeObject* type = Py_TYPE(py_expr_check(a) ? a : b);
    ExprPtr left, right;
    PyObject* ra = as_expr_tree(a, type, left);
    if (ra == nullptr) return nullptr;
    PyObject* rb = ra == Py_NotImplemented ? ra : as_expr_tree(b, type, right);
    if (rb == nullptr) return nullptr;
    if (ra == Py_NotImplemented || rb == Py_NotImplemented) Py_RETURN_NOTIMPLEMENTED;
    return new_py_expr(type, make_binary(K, std::move(left), std::move(right)),
                       merged_names(py_expr_check(a) ? a : b, py_expr_check(a) && py_expr_check(b) ? b : nullptr));
  });
}

PyObject* operator_invert(PyObject* self) {
  return guarded([&]() -> PyObject* { return new_py_expr(Py_TYPE(self), make_unary(ExprKind::Not, tree(self)), names_of(self)); });
}

PyObject* rich_compare(PyObject* self, PyObject* other, int op) {
  switch (op) {
    case Py_EQ: return operator_binary<ExprKind::Eq>(self, other);
    case Py_NE: return operator_binary<ExprKind::Neq>(self, other);
    case Py_LT: return operator_binary<ExprKind::Lt>(self, other);
    case Py_GT: return operator_binary<ExprKind::Gt>(self, other);
    case Py_LE: return operator_binary<ExprKind::Lte>(self, other);
    case Py_GE: return operator_binary<ExprKind::Gte>(self, other);
    default: Py_RETURN_NOTIMPLEMENTED;
  }
}

// `a and b`, `if e:` would otherwise test the object, always true, and
// silently drop half a condition.
int refuse_bool(PyObject*) {
  PyErr_SetString(PyExc_TypeError,
                  "a PyExpr has no truth value: combine conditions with & and | (or and_/or_), "
                  "and evaluate with PyTrace.find or eval_expr_bool");
  return -1;
}

PyObject* expr_repr(PyObject* self) {
  return guarded([&]() -> PyObject* {
    const auto& names = names_of(self);
    const std::string text = expr_text(*tree(self), [&](SignalId id) -> std::string {
      if (names)
        for (const auto& [nid, name] : *names)
          if (nid == id) return name;
      return {};
    });
    return PyUnicode_FromFormat("PyExpr(%s)", text.c_str());
  });
}

constexpr int kStatic = METH_FASTCALL | METH_KEYWORDS | METH_CLASS;
constexpr int kMethod = METH_FASTCALL | METH_KEYWORDS;

#define QUARN_UNARY(K, NAME, DOC) {NAME, as_method(unary<ExprKind::K>), kMethod, NAME "($self)\n--\n\n" DOC}
#define QUARN_BINARY(K, NAME, DOC) {NAME, as_method(binary<ExprKind::K>), kMethod, NAME "($self, other)\n--\n\n" DOC}

PyMethodDef py_expr_methods[] = {
    {"signal", as_method(signal), kStatic, "signal(id)\n--\n\nA reference to the signal with numeric id `id` (see PyTrace.signal_id);\nPyTrace.sig(name) does the same by name."},
    {"const_int", as_method(const_int), kStatic,
     "const_int(val)\n--\n\nAn integer constant. Any Python int: 0 .. 2**64-1 is a 64-bit number; a larger\n"
     "one is a wide number in as many 64-bit words as it needs; a negative one is its\n"
     "two's complement in as many 64-bit words as hold it with its sign (-1 is\n"
     "2**64-1, -2**64 needs two words). Comparisons with a signal of the same word\n"
     "count are exact; arithmetic and ordering read the low 64 bits."},
    {"const_float", as_method(const_float), kStatic, "const_float(val)\n--\n\nA real constant (ints are converted)."},
    {"const_str", as_method(const_str), kStatic, "const_str(val)\n--\n\nA string constant."},
    {"always_true", as_method(always_true), kStatic, "always_true()\n--\n\nAn expression true at every index."},
    {"rel_eval", as_method(rel_eval), kMethod, "rel_eval($self, offset)\n--\n\nThis expression evaluated `offset` indices away (-1 the previous index,\n+1 the next); Empty beyond either end of the trace."},
    QUARN_UNARY(Not, "not_", "Logical not: 1 when this expression is false, else 0 (also ~expr)."),
    {"slice", as_method(slice), kMethod, "slice($self, high, low)\n--\n\nBits high..low of this expression's value (bit 0 the least significant)."},
    QUARN_UNARY(Signed, "signed", "This value read as a signed number of its width."),
    QUARN_UNARY(IsX, "is_x", "1 where this value has an x bit (or no value), else 0."),
    QUARN_UNARY(IsZ, "is_z", "1 where this value has a z bit, else 0."),
    QUARN_BINARY(And, "and_", "Logical and: 1 when both are true, else 0."),
    QUARN_BINARY(Or, "or_", "Logical or: 1 when either is true, else 0."),
    QUARN_BINARY(Eq, "eq_", "1 when the values are equal, else 0 (also expr == other)."),
    QUARN_BINARY(Neq, "neq", "1 when the values differ, else 0 (also expr != other)."),
    QUARN_BINARY(Gt, "gt_", "1 when this value is greater, else 0 (also expr > other)."),
    QUARN_BINARY(Lt, "lt_", "1 when this value is smaller, else 0 (also expr < other)."),
    QUARN_BINARY(Gte, "gte", "1 when this value is greater or equal, else 0 (also expr >= other)."),
    QUARN_BINARY(Lte, "lte", "1 when this value is smaller or equal, else 0 (also expr <= other)."),
    QUARN_BINARY(Add, "add", "The 64-bit sum, wrapping (also expr + other)."),
    QUARN_BINARY(Sub, "sub", "The 64-bit difference, wrapping (also expr - other)."),
    QUARN_BINARY(BitAnd, "bit_and", "Bitwise and (also expr & other)."),
    QUARN_BINARY(BitOr, "bit_or", "Bitwise or (also expr | other)."),
    QUARN_BINARY(BitXor, "bit_xor", "Bitwise exclusive or (also expr ^ other)."),
    {nullptr, nullptr, 0, nullptr},
};

#undef QUARN_UNARY
#undef QUARN_BINARY

PyType_Slot py_expr_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(py_expr_dealloc)},
    {Py_tp_doc, const_cast<char*>(
        "An expression over a trace's signals, evaluated by PyTrace.find, count, eval_expr.\n\n"
        "Made by PyTrace.sig(name) or the class methods signal, const_int, const_float,\n"
        "const_str, always_true; combined by the methods or by Python operators:\n"
        "== != < > <= >= compare, & | ^ are bitwise, + - add and subtract, ~ is logical not.\n"
        "ints and floats mix in as constants (sig('top.a') == 3). Every operation returns\n"
        "a new expression. bool(expr) raises TypeError: use & and | (not and/or).")},
    {Py_tp_repr, reinterpret_cast<void*>(expr_repr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(rich_compare)},
    {Py_tp_hash, reinterpret_cast<void*>(PyObject_HashNotImplemented)},
    {Py_nb_bool, reinterpret_cast<void*>(refuse_bool)},
    {Py_nb_and, reinterpret_cast<void*>(operator_binary<ExprKind::BitAnd>)},
    {Py_nb_or, reinterpret_cast<void*>(operator_binary<ExprKind::BitOr>)},
    {Py_nb_xor, reinterpret_cast<void*>(operator_binary<ExprKind::BitXor>)},
    {Py_nb_add, reinterpret_cast<void*>(operator_binary<ExprKind::Add>)},
    {Py_nb_subtract, reinterpret_cast<void*>(operator_binary<ExprKind::Sub>)},
    {Py_nb_invert, reinterpret_cast<void*>(operator_invert)},
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

PyObject* new_py_expr(PyTypeObject* type, ExprPtr expr, std::shared_ptr<const ExprNames> names) {
  PyObject* obj = type->tp_alloc(type, 0);
  if (obj == nullptr) return nullptr;
  new (&reinterpret_cast<PyExprObject*>(obj)->expr) ExprPtr(std::move(expr));
  new (&reinterpret_cast<PyExprObject*>(obj)->names) std::shared_ptr<const ExprNames>(std::move(names));
  return obj;
}

PyObject* register_py_expr(PyObject* module) { return PyType_FromModuleAndSpec(module, &py_expr_spec, nullptr); }

// Each module instance has its own type object, but all share this dealloc,
// which identifies them without keeping any per-module state.
bool py_expr_check(PyObject* obj) { return Py_TYPE(obj)->tp_dealloc == py_expr_dealloc; }

}  // namespace quarn::py
