#include "py_numpy.h"

#include <new>

#include "py_ref.h"

namespace quarn::py {
namespace {

// Exposes memory kept alive by a shared owner through the buffer protocol;
// numpy.frombuffer makes it the array's base, so nothing is copied.
struct BufferObject {
  PyObject_HEAD
  std::shared_ptr<const void> owner;
  const void* data;
  Py_ssize_t bytes;
  Py_ssize_t itemsize;
  bool writable;
};

void buffer_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  reinterpret_cast<BufferObject*>(self)->owner.~shared_ptr();
  type->tp_free(self);
  Py_DECREF(type);
}

int buffer_get(PyObject* self, Py_buffer* view, int flags) {
  auto* b = reinterpret_cast<BufferObject*>(self);
  // Writable only for arrays that own their memory outright (not a trace's).
  return PyBuffer_FillInfo(view, self, const_cast<void*>(b->data), b->bytes, b->writable ? 0 : 1, flags);
}

PyType_Slot buffer_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(buffer_dealloc)},
    {Py_bf_getbuffer, reinterpret_cast<void*>(buffer_get)},
    {0, nullptr},
};

PyType_Spec buffer_spec = {
    "quarn._core._Buffer",
    sizeof(BufferObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    buffer_slots,
};

PyObject* buffer_type() {
  // Created once per process and kept: it has no module state to lose.
  static PyObject* type = PyType_FromSpec(&buffer_spec);
  return type;
}

PyObject* numpy_module() {
  static PyObject* numpy = nullptr;
  if (numpy == nullptr) {
    numpy = PyImport_ImportModule("numpy");
    if (numpy == nullptr && PyErr_ExceptionMatches(PyExc_ImportError)) {
      PyErr_Clear();
      PyErr_SetString(PyExc_ImportError, "this method returns numpy arrays: install numpy (pip install numpy)");
    }
  }
  return numpy;
}

}  // namespace

PyObject* numpy_view(std::shared_ptr<const void> owner, const void* data, std::size_t count, std::size_t itemsize,
                     const char* dtype, bool writable) {
  PyObject* np = numpy_module();
  auto* type = reinterpret_cast<PyTypeObject*>(buffer_type());
  if (np == nullptr || type == nullptr) return nullptr;
  PyRef buf(type->tp_alloc(type, 0));
  if (!buf) return nullptr;
  auto* b = reinterpret_cast<BufferObject*>(buf.get());
  new (&b->owner) std::shared_ptr<const void>(std::move(owner));
  // frombuffer refuses a null pointer even for no items.
  static const std::uint64_t kNothing = 0;
  b->data = count == 0 ? &kNothing : data;
  b->bytes = static_cast<Py_ssize_t>(count * itemsize);
  b->itemsize = static_cast<Py_ssize_t>(itemsize);
  b->writable = writable && count > 0;
  return PyObject_CallMethod(np, "frombuffer", "Os", buf.get(), dtype);
}

PyObject* numpy_object_array(PyObject* list) {
  PyObject* np = numpy_module();
  if (np == nullptr) return nullptr;
  const Py_ssize_t n = PyList_GET_SIZE(list);
  PyRef array(PyObject_CallMethod(np, "empty", "ns", n, "O"));
  if (!array) return nullptr;
  // Assigned as a slice: numpy.array(list) would turn a list of equal-length
  // sequences into a 2-D array; str and int items stay whole this way.
  PyRef all(PySlice_New(nullptr, nullptr, nullptr));
  if (!all || PyObject_SetItem(array.get(), all.get(), list) < 0) return nullptr;
  return array.release();
}

}  // namespace quarn::py
