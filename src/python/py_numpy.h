#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <memory>
#include <vector>

namespace quarn::py {

/// A 1-D numpy array over `count` items of `itemsize` bytes at `data`,
/// without copying: `owner` keeps the memory alive as long as the array.
/// `dtype` is a numpy type string ("<u8", "<f8", "?"). numpy is imported on
/// first use; without it, ImportError naming the package. Null on failure.
PyObject* numpy_view(std::shared_ptr<const void> owner, const void* data, std::size_t count, std::size_t itemsize,
                     const char* dtype, bool writable);

/// `numpy_view` over a vector handed over to the array.
template <class T>
PyObject* numpy_from_vector(std::vector<T>&& items, const char* dtype) {
  auto owned = std::make_shared<std::vector<T>>(std::move(items));
  const T* data = owned->data();
  const std::size_t count = owned->size();
  return numpy_view(std::move(owned), data, count, sizeof(T), dtype, true);
}

/// A numpy object array holding the items of `list` (a new reference is
/// not taken from `list`). Null on failure.
PyObject* numpy_object_array(PyObject* list);

}  // namespace quarn::py
