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

PyRef rows_of_eight(const Buffer& flat, std::size_t n) noexcept {
  npy_intp dims[2] = {static_cast<npy_intp>(n), n ? 8 : 0};
  PyRef array = PyRef::steal(PyArray_NewFromDescr(&PyArray_Type,
                                                  PyArray_DescrFromType(NPY_FLOAT64), 2, dims,
                                                  nullptr, nullptr, 0, nullptr));
  if (!array) return {};
  if (n)
    std::memcpy(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())), flat.get(),
                sizeof(double) * 8 * n);
  return array;
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

  PyRef dates = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(n)));
  if (!dates) return nullptr;
  Buffer columns[kScalars];
  for (auto& c : columns) c = make_buffer(n);
  Buffer ap = make_buffer(8 * n), kp = make_buffer(8 * n);

  for (std::size_t i = 0; i < records.size(); ++i) {
    const DailyRecord& r = records[i];
    PyRef date = date_to_py(r.date);
    if (!date) return nullptr;
    PyList_SET_ITEM(dates.get(), static_cast<Py_ssize_t>(i), date.release());
    for (std::size_t c = 0; c < kScalars; ++c)
      if (const Index& v = r.*kScalarIndices[c]) columns[c].get()[i] = *v;
    if (r.ap_3hr) std::memcpy(ap.get() + 8 * i, r.ap_3hr->data(), sizeof(double) * 8);
    if (r.kp_3hr) std::memcpy(kp.get() + 8 * i, r.kp_3hr->data(), sizeof(double) * 8);
  }

  PyRef result = PyRef::steal(PyDict_New());
  if (!result) return nullptr;
  PyRef array_fn = PyRef::steal(PyObject_GetAttrString(numpy.get(), "array"));
  if (!array_fn) return nullptr;
  PyRef date_array = PyRef::steal(PyObject_CallOneArg(array_fn.get(), dates.get()));
  if (!date_array || PyDict_SetItemString(result.get(), "date", date_array.get()) < 0)
    return nullptr;
  dates = PyRef();  // the array holds the dates now; dropping the list lowers the peak
  for (std::size_t c = 0; c < kScalars; ++c) {
    PyRef column = column_over(columns[c], n);
    if (!column || PyDict_SetItemString(result.get(), kScalarNames[c], column.get()) < 0)
      return nullptr;
  }
  PyRef ap_rows = rows_of_eight(ap, n);
  if (!ap_rows || PyDict_SetItemString(result.get(), "ap_3hr", ap_rows.get()) < 0)
    return nullptr;
  ap.reset();  // copied; freed before the next 2-D array is allocated, which lowers the peak
  PyRef kp_rows = rows_of_eight(kp, n);
  if (!kp_rows || PyDict_SetItemString(result.get(), "kp_3hr", kp_rows.get()) < 0)
    return nullptr;
  return result.release();
}

}  // namespace heliodex::python
