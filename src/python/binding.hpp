#pragma once
#include "python/py_ref.hpp"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string_view>

#include "heliodex_error.hpp"
#include "record.hpp"
#include "store/heliodex_store.hpp"

namespace heliodex::python {

struct HeliodexObject {
  PyObject_HEAD
  HeliodexStore store;
  // 0 free, n shared borrows, all ones one exclusive borrow.
  std::atomic<std::size_t> borrow;
};

// The Heliodex type, made on first need and kept for the life of the process.
PyTypeObject* heliodex_type() noexcept;

// Raises the ValueError that carries the error's message; always returns nullptr.
PyObject* parse_err(const HeliodexError& error) noexcept;

// Raises the exception for a fault that escaped a method body; always returns nullptr.
PyObject* raise_internal_fault() noexcept;

// Runs a method body so that no C++ exception reaches the interpreter.
template <class Body>
PyObject* guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (...) {
    return raise_internal_fault();
  }
}

template <class Body>
Py_ssize_t guarded_len(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (...) {
    raise_internal_fault();
  }
  return -1;
}

// A shared borrow of an instance, released on scope exit; check ok() after taking it.
class SharedBorrow {
 public:
  explicit SharedBorrow(HeliodexObject* self) noexcept;
  ~SharedBorrow();
  SharedBorrow(const SharedBorrow&) = delete;
  SharedBorrow& operator=(const SharedBorrow&) = delete;
  bool ok() const noexcept { return self_ != nullptr; }

 private:
  HeliodexObject* self_;
};

// An exclusive borrow of an instance, released on scope exit; check ok() after taking it.
class ExclusiveBorrow {
 public:
  explicit ExclusiveBorrow(HeliodexObject* self) noexcept;
  ~ExclusiveBorrow();
  ExclusiveBorrow(const ExclusiveBorrow&) = delete;
  ExclusiveBorrow& operator=(const ExclusiveBorrow&) = delete;
  bool ok() const noexcept { return self_ != nullptr; }

 private:
  HeliodexObject* self_;
};

// Conversions between core values and Python objects.
bool py_to_date(PyObject* obj, CalendarDate& out) noexcept;
// Whether obj is exactly a datetime.date (not a subclass or a replacement's object).
bool is_exact_date(PyObject* obj) noexcept;

// Makes the dates of one call that runs no Python code between them: each date is
// what the class that datetime.date names makes of it (or that class's error). Once
// datetime.date has been found to be the genuine class, read from the module cache and the
// module's own dictionary, the call's later dates are made with it directly: neither that
// lookup nor the making of a genuine date runs any Python code, so nothing can have replaced
// datetime.date since. Any other class is looked up afresh for every date.
class DateMaker {
 public:
  // Inline, so that a loop over many dates calls the genuine constructor with nothing between.
  PyRef make(CalendarDate date) noexcept {
    if (genuine_) return PyRef::steal(genuine_make_(date.year, date.month, date.day, genuine_));
    return look_up_and_make(date);
  }
  // Whether the dates made from now on are exactly datetime.date.
  bool genuine() const noexcept { return genuine_ != nullptr; }

 private:
  PyRef look_up_and_make(CalendarDate date) noexcept;

  // Set once datetime.date is found genuine: its C constructor and the class.
  PyObject* (*genuine_make_)(int, int, int, PyTypeObject*) = nullptr;
  PyTypeObject* genuine_ = nullptr;
};

// The floats of one call's results. A value met again in the same call reuses the float made
// for it: floats are immutable, so the results read the same, with far fewer objects to make
// and free. Nothing outlives the call that owns the pool.
class FloatPool {
 public:
  // Room for about the distinct values of `records` records.
  explicit FloatPool(std::size_t records);
  ~FloatPool();
  FloatPool(const FloatPool&) = delete;
  FloatPool& operator=(const FloatPool&) = delete;

  // A new reference to a float of value v (bit for bit), or nullptr with the error set.
  PyObject* get(double v) noexcept;

 private:
  struct Slot {
    std::uint64_t bits;
    PyObject* value;  // owned; nullptr when empty
  };
  std::unique_ptr<Slot[]> slots_;
  std::size_t count_;
  int shift_;  // 64 - log2(count_)
};

PyRef record_to_dict(const DailyRecord& record, FloatPool& floats, DateMaker& dates) noexcept;
// The same for one record alone, with one float per distinct value of the record.
PyRef record_to_dict(const DailyRecord& record) noexcept;

// The body of Heliodex.to_numpy(), run under a shared borrow.
PyObject* to_numpy(const HeliodexStore& store);

}  // namespace heliodex::python
