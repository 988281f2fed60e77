// Heliodex.to_numpy(): one pass over the store into float64 columns.
#include "python/binding.hpp"

#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#define NPY_TARGET_VERSION NPY_1_22_API_VERSION
#include <numpy/arrayobject.h>

#include <bit>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace heliodex::python {
namespace {

constexpr std::size_t kScalars = std::size(kScalarIndices);
const double kAbsent = std::bit_cast<double>(std::uint64_t{0x7FF8000000000000});
constexpr const char kBufferCapsule[] = "heliodex.float64_buffer";

struct FreeDeleter {
  void operator()(double* p) const noexcept { std::free(p); }
};
using Buffer = std::unique_ptr<double, FreeDeleter>;

Buffer make_buffer(std::size_t n) {
  // One element at least, so that an empty column still owns a real allocation.
  auto* p = static_cast<double*>(std::malloc(sizeof(double) * (n ? n : 1)));
  if (!p) throw std::bad_alloc();
  std::fill(p, p + n, kAbsent);
  return Buffer(p);
}

void free_capsule(PyObject* capsule) {
  std::free(PyCapsule_GetPointer(capsule, kBufferCapsule));
}

// NumPy's C API is reached on first use, never at import of this module.
bool ensure_numpy_api() noexcept {
  if (PyArray_API) return true;
  return _import_array() >= 0;
}

// A 1-D float64 array over the buffer; the array's base (a capsule) frees it.
PyRef column_over(Buffer& buffer, std::size_t n) noexcept {
  PyRef holder = PyRef::steal(PyCapsule_New(buffer.get(), kBufferCapsule, free_capsule));
  if (!holder) return {};
  buffer.release();  // the capsule owns it now
  npy_intp dims[1] = {static_cast<npy_intp>(n)};
  PyRef array = PyRef::steal(PyArray_NewFromDescr(
      &PyArray_Type, PyArray_DescrFromType(NPY_FLOAT64), 1, dims, nullptr,
      PyCapsule_GetPointer(holder.get(), kBufferCapsule), NPY_ARRAY_CARRAY, nullptr));
  if (!array) return {};
  if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(array.get()), holder.release()) < 0)
    return {};
  return array;
}

// What numpy.array makes of a list of n > 0 objects that are all exactly datetime.date: a
// one-dimensional array of object dtype whose elements are those objects. It is made here
// and filled in place, since numpy.array spends about 75 ns a date examining a list (2.3 ms
// of a 3 ms export of the merged real files). The slots are filled with set_date.
PyRef date_array(std::size_t n) noexcept {
  npy_intp dims[1] = {static_cast<npy_intp>(n)};
  return PyRef::steal(PyArray_NewFromDescr(&PyArray_Type, PyArray_DescrFromType(NPY_OBJECT), 1,
                                           dims, nullptr, nullptr, 0, nullptr));
}

PyObject** slots_of(PyObject* date_array) noexcept {
  return static_cast<PyObject**>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(date_array)));
}

// Puts date into slot i of a date_array, which owns it from then on. A new object array's
// slots hold nothing or None, depending on NumPy's version: either is let go.
void set_date(PyObject* array, std::size_t i, PyRef date) noexcept {
  Py_XSETREF(slots_of(array)[i], date.release());
}

// numpy.array of a list of the n objects of a date_array (none when n is 0): for dates of
// another class than datetime.date (a replaced datetime.date may make anything), whose
// conversion is numpy.array's to decide.
PyRef numpy_array_of(PyObject* numpy, PyObject* array, std::size_t n) noexcept {
  PyRef array_fn = PyRef::steal(PyObject_GetAttrString(numpy, "array"));
  if (!array_fn) return {};
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(n)));
  if (!list) return {};
  for (std::size_t i = 0; i < n; ++i)
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), Py_NewRef(slots_of(array)[i]));
  return PyRef::steal(PyObject_CallOneArg(array_fn.get(), list.get()));
}

// A new NumPy-allocated float64 array of n rows of eight, in row-major order (shape (0, 0)
// when n is 0), and its first element: the rows are written straight into it.
PyRef rows_of_eight(std::size_t n, double*& data) noexcept {
  npy_intp dims[2] = {static_cast<npy_intp>(n), n ? 8 : 0};
  PyRef array = PyRef::steal(PyArray_NewFromDescr(&PyArray_Type,
                                                  PyArray_DescrFromType(NPY_FLOAT64), 2, dims,
                                                  nullptr, nullptr, 0, nullptr));
  if (array)
    data = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())));
  return array;
}

// Row i of rows: the group's eight values, or eight NaN without it.
void put_row(double* rows, std::size_t i, const Index8& group) noexcept {
  if (group) std::memcpy(rows + 8 * i, group->data(), sizeof(double) * 8);
  else std::fill_n(rows + 8 * i, 8, kAbsent);
}

}  // namespace

PyObject* to_numpy(const HeliodexStore& store) {
  PyRef numpy = PyRef::steal(PyImport_ImportModule("numpy"));
  if (!numpy) return nullptr;
  if (!ensure_numpy_api()) return nullptr;

  const std::size_t n = store.len();
  std::span<const DailyRecord> records;
  if (n > 0) {
    const auto range = *store.date_range();
    records = store.get_range(range.first, range.second);
  }

  // The dates, in the array that they are returned in while they are all datetime.date.
  PyRef dates;
  if (n > 0 && !(dates = date_array(n))) return nullptr;
  bool exact_dates = true;
  Buffer columns[kScalars];
  for (auto& c : columns) c = make_buffer(n);
  // The two 2-D arrays as they are returned, their rows written in the walk (a buffer of
  // rows copied into them after it would be fresh memory for every export).
  double *ap = nullptr, *kp = nullptr;
  PyRef ap_rows = rows_of_eight(n, ap), kp_rows = rows_of_eight(n, kp);
  if (!ap_rows || !kp_rows) return nullptr;

  DateMaker make_date;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const DailyRecord& r = records[i];
    PyRef date = make_date.make(r.date);
    if (!date) return nullptr;
    exact_dates &= make_date.genuine() || is_exact_date(date.get());
    set_date(dates.get(), i, std::move(date));
    for (std::size_t c = 0; c < kScalars; ++c)
      if (const Index& v = r.*kScalarIndices[c]) columns[c].get()[i] = *v;
    put_row(ap, i, r.ap_3hr);
    put_row(kp, i, r.kp_3hr);
  }

  PyRef result = PyRef::steal(PyDict_New());
  if (!result) return nullptr;
  // An empty list, too, is numpy.array's to convert (not to an array of object dtype).
  if ((n == 0 || !exact_dates) && !(dates = numpy_array_of(numpy.get(), dates.get(), n)))
    return nullptr;
  if (PyDict_SetItemString(result.get(), "date", dates.get()) < 0) return nullptr;
  dates = PyRef();
  for (std::size_t c = 0; c < kScalars; ++c) {
    PyRef column = column_over(columns[c], n);
    if (!column || PyDict_SetItemString(result.get(), kScalarNames[c], column.get()) < 0)
      return nullptr;
  }
  if (PyDict_SetItemString(result.get(), "ap_3hr", ap_rows.get()) < 0 ||
      PyDict_SetItemString(result.get(), "kp_3hr", kp_rows.get()) < 0)
    return nullptr;
  return result.release();
}

}  // namespace heliodex::python
