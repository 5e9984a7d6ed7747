// Methods of PyTrace written in Python (they build pandas and matplotlib
// objects, whose packages are optional): each forwards to a function of the
// package with the trace as first argument.

#include "py_ref.h"
#include "py_trace.h"
#include "py_trace_time.h"

namespace quarn::py {
namespace {

PyObject* forward(const char* module_name, const char* function, PyObject* self, PyObject* args, PyObject* kwargs) {
  if (trace_of(self) == nullptr) return nullptr;
  PyRef module(PyImport_ImportModule(module_name));
  PyRef fn(module ? PyObject_GetAttrString(module.get(), function) : nullptr);
  if (!fn) return nullptr;
  const Py_ssize_t n = PyTuple_GET_SIZE(args);
  PyRef all(PyTuple_New(n + 1));
  if (!all) return nullptr;
  Py_INCREF(self);
  PyTuple_SET_ITEM(all.get(), 0, self);
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* item = PyTuple_GET_ITEM(args, i);
    Py_INCREF(item);
    PyTuple_SET_ITEM(all.get(), i + 1, item);
  }
  return PyObject_Call(fn.get(), all.get(), kwargs);
}

PyObject* to_pandas(PyObject* self, PyObject* args, PyObject* kwargs) {
  return forward("quarn._frames", "to_pandas", self, args, kwargs);
}

PyObject* plot(PyObject* self, PyObject* args, PyObject* kwargs) {
  return forward("quarn._plot", "plot", self, args, kwargs);
}

using KwMethod = PyObject* (*)(PyObject*, PyObject*, PyObject*);
PyCFunction as_method(KwMethod f) { return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f)); }

}  // namespace

PyMethodDef py_trace_forward_methods[] = {
    {"to_pandas", as_method(to_pandas), METH_VARARGS | METH_KEYWORDS,
     "to_pandas($self, names, start=None, end=None, index='time')\n--\n\n"
     "A pandas DataFrame with one column per name and one row per index whose\n"
     "time lies in the window [start, end] (times as for index_at; None: the\n"
     "trace's first or last time). index='time' labels rows by time in ticks,\n"
     "index='index' by trace index. Numbers with x/z read as <NA> (nullable\n"
     "UInt64), reals as float64, wide numbers and strings as objects. Needs\n"
     "pandas (pip install 'quarn[pandas]'). KeyError for an unknown name."},
    {"plot", as_method(plot), METH_VARARGS | METH_KEYWORDS,
     "plot($self, names, t0=None, t1=None)\n--\n\n"
     "A waveform picture of the named signals between times t0 and t1, as a\n"
     "matplotlib Figure: bits as steps, buses as labelled hexagons, x/z in red,\n"
     "reals as lines. Needs matplotlib (pip install 'quarn[plot]')."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace quarn::py
