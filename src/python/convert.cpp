// Dates and record dictionaries between the store and Python.
#include <bit>
#include <climits>
#include <cstdint>

#include "python/binding.hpp"

#include <datetime.h>
#include <cstring>

namespace heliodex::python {
namespace {

// Interned key strings, made once; they are constants, not cached results.
struct Keys {
  PyObject* date_mod;
  PyObject* date;
  PyObject* year;
  PyObject* month;
  PyObject* day;
  PyObject* index[11];
  // The twelve keys in record order, each mapped to None. Copying it gives every record dict
  // the table that inserting the keys one by one would grow, without growing it twice.
  PyObject* record_template;
};

Keys* keys() noexcept {
  static Keys k{};
  static bool ready = false;
  if (ready) return &k;
  auto intern = [](const char* s) { return PyUnicode_InternFromString(s); };
  if (!(k.date_mod = intern("datetime")) || !(k.date = intern("date")) ||
      !(k.year = intern("year")) || !(k.month = intern("month")) || !(k.day = intern("day")))
    return nullptr;
  int i = 0;
  bool ok = true;
  DailyRecord probe{};
  for_each_index(probe, [&](const char* name, const auto&) {
    if (ok && !(k.index[i++] = intern(name))) ok = false;
  });
  if (!ok) return nullptr;
  PyRef templ = PyRef::steal(PyDict_New());
  if (!templ || PyDict_SetItem(templ.get(), k.date, Py_None) < 0) return nullptr;
  for (PyObject* key : k.index)
    if (PyDict_SetItem(templ.get(), key, Py_None) < 0) return nullptr;
  k.record_template = templ.release();
  ready = true;
  return &k;
}

// One float per distinct value (bit for bit) of a single record: within a day the eight
// 3-hourly values repeat, and ap and Kp share values. The floats made are borrowed from the
// record's dictionary, which holds them for as long as the record is being built; after a
// failure nothing more is asked of it.
class RecordFloats {
 public:
  PyObject* get(double v) noexcept {
    const auto bits = std::bit_cast<std::uint64_t>(v);
    std::uint32_t slot = static_cast<std::uint32_t>((bits * 0x9E3779B97F4A7C15u) >> 59);
    for (; used_ >> slot & 1; slot = (slot + 1) % kSlots)
      if (bits_[slot] == bits) return Py_NewRef(made_[slot]);
    PyObject* f = PyFloat_FromDouble(v);
    if (f) {
      used_ |= std::uint32_t{1} << slot;
      bits_[slot] = bits;
      made_[slot] = f;
    }
    return f;
  }

 private:
  static constexpr std::uint32_t kSlots = 32;  // a record holds at most 25 values
  std::uint32_t used_ = 0;
  std::uint64_t bits_[kSlots];
  PyObject* made_[kSlots];
};

template <class Floats>
PyRef index_to_py(const Index& v, Floats& floats) noexcept {
  if (!v) return PyRef::borrow(Py_None);
  return PyRef::steal(floats.get(*v));
}

template <class Floats>
PyRef index_to_py(const Index8& v, Floats& floats) noexcept {
  if (!v) return PyRef::borrow(Py_None);
  PyRef list = PyRef::steal(PyList_New(8));
  if (!list) return {};
  for (Py_ssize_t i = 0; i < 8; ++i) {
    PyObject* f = floats.get((*v)[static_cast<std::size_t>(i)]);
    if (!f) return {};
    PyList_SET_ITEM(list.get(), i, f);
  }
  return list;
}

// Reads obj.<name> as a C long, then checks it against [lo, hi].
bool read_int(PyObject* obj, PyObject* name, long lo, long hi, long& out) noexcept {
  PyRef v = PyRef::steal(PyObject_GetAttr(obj, name));
  if (!v) return false;
  const long x = PyLong_AsLong(v.get());
  if (x == -1 && PyErr_Occurred()) return false;
  if (x < lo || x > hi) {
    PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
    return false;
  }
  out = x;
  return true;
}

// The datetime C API, once the _datetime module is loaded (it is when one of its dates
// exists); looking it up imports nothing.
const PyDateTime_CAPI* g_datetime_capi = nullptr;

const PyDateTime_CAPI* loaded_datetime_capi() noexcept {
  const PyDateTime_CAPI*& capi = g_datetime_capi;
  if (capi) return capi;
  PyRef name = PyRef::steal(PyUnicode_FromString("_datetime"));
  PyRef module = PyRef::steal(name ? PyImport_GetModule(name.get()) : nullptr);
  PyRef capsule = PyRef::steal(module ? PyObject_GetAttrString(module.get(), "datetime_CAPI")
                                      : nullptr);
  if (capsule)
    capi = static_cast<const PyDateTime_CAPI*>(
        PyCapsule_GetPointer(capsule.get(), PyDateTime_CAPSULE_NAME));
  PyErr_Clear();  // no C API means no fast path, not an error
  return capi;
}

// True with the fields when obj is exactly a datetime.date or datetime.datetime: their
// attributes are those fields (the types are immutable), so reading them is reading obj.year.
bool read_exact_date(PyObject* obj, CalendarDate& out) noexcept {
  const PyDateTime_CAPI* capi = g_datetime_capi;
  if (!capi) {  // look the C API up only for an object that may be one of its dates
    const char* name = Py_TYPE(obj)->tp_name;
    if (std::strcmp(name, "datetime.date") != 0 && std::strcmp(name, "datetime.datetime") != 0)
      return false;
    capi = loaded_datetime_capi();
  }
  if (!capi || (Py_TYPE(obj) != capi->DateType && Py_TYPE(obj) != capi->DateTimeType))
    return false;
  out = CalendarDate{PyDateTime_GET_YEAR(obj), static_cast<std::uint8_t>(PyDateTime_GET_MONTH(obj)),
                     static_cast<std::uint8_t>(PyDateTime_GET_DAY(obj))};
  return true;
}

// The module of that name from the interpreter's module cache (sys.modules), or nothing,
// with an error set only when the lookup itself failed. The dictionary is read directly:
// PyImport_GetModule would also ask the module's spec whether it is still initialising,
// which costs more than the rest of making a date. `plain` tells whether it was read there.
PyRef cached_module(PyObject* name, bool& plain) noexcept {
  PyObject* modules = PyImport_GetModuleDict();
  plain = modules && PyDict_CheckExact(modules);
  if (!plain) return PyRef::steal(PyImport_GetModule(name));
  return PyRef::borrow(PyDict_GetItemWithError(modules, name));
}

// module.name. A plain module's attributes are the entries of its dictionary, so one found
// there is the attribute; anything else takes the full lookup (module __getattr__, the
// AttributeError's text). `plain` tells whether it was found in the dictionary.
PyRef module_attribute(PyObject* module, PyObject* name, bool& plain) noexcept {
  plain = false;
  if (Py_IS_TYPE(module, &PyModule_Type)) {
    if (PyObject* dict = PyModule_GetDict(module)) {
      if (PyObject* found = PyDict_GetItemWithError(dict, name)) {
        plain = true;
        return PyRef::borrow(found);
      }
      if (PyErr_Occurred()) return {};
    }
  }
  return PyRef::steal(PyObject_GetAttr(module, name));
}

}  // namespace

FloatPool::FloatPool(std::size_t records) {
  // About sixteen slots a record; the values of a year of records repeat far more than that.
  constexpr std::size_t kMax = 4096;
  count_ = 64;
  while (count_ < kMax && count_ < records * 16) count_ *= 2;
  slots_.reset(new Slot[count_]());
  shift_ = 64 - std::countr_zero(count_);
}

FloatPool::~FloatPool() {
  for (std::size_t i = 0; i < count_; ++i) Py_XDECREF(slots_[i].value);
}

PyObject* FloatPool::get(double v) noexcept {
  std::uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  Slot& slot = slots_[(bits * 0x9E3779B97F4A7C15u) >> shift_];
  if (slot.value && slot.bits == bits) return Py_NewRef(slot.value);
  PyObject* f = PyFloat_FromDouble(v);
  if (!f) return nullptr;
  Py_XSETREF(slot.value, Py_NewRef(f));  // a value pushed out lives on in the results
  slot.bits = bits;
  return f;
}

PyRef DateMaker::look_up_and_make(CalendarDate date) noexcept {
  Keys* k = keys();
  if (!k) return {};
  // Look datetime.date up afresh so that a replaced datetime.date is honoured.
  bool plain_module = false, plain_attribute = false;
  PyRef module = cached_module(k->date_mod, plain_module);
  if (!module) {
    if (PyErr_Occurred()) return {};
    plain_module = false;
    module = PyRef::steal(PyImport_Import(k->date_mod));
    if (!module) return {};
  }
  PyRef cls = module_attribute(module.get(), k->date, plain_attribute);
  if (!cls) return {};
  // The genuine type makes the same date, or raises the same ValueError, from three C ints
  // as from a call with three Python ints, but without packing them for its argument parser.
  const PyDateTime_CAPI* capi = loaded_datetime_capi();
  if (capi && cls.get() == reinterpret_cast<PyObject*>(capi->DateType)) {
    if (plain_module && plain_attribute) {
      genuine_make_ = capi->Date_FromDate;
      genuine_ = capi->DateType;
    }
    return PyRef::steal(capi->Date_FromDate(date.year, date.month, date.day, capi->DateType));
  }
  PyRef y = PyRef::steal(PyLong_FromLong(date.year));
  PyRef m = PyRef::steal(PyLong_FromLong(date.month));
  PyRef d = PyRef::steal(PyLong_FromLong(date.day));
  if (!y || !m || !d) return {};
  PyObject* args[] = {y.get(), m.get(), d.get()};
  return PyRef::steal(PyObject_Vectorcall(cls.get(), args, 3, nullptr));
}

bool is_exact_date(PyObject* obj) noexcept {
  const PyDateTime_CAPI* capi = loaded_datetime_capi();
  return capi && Py_TYPE(obj) == capi->DateType;
}

bool py_to_date(PyObject* obj, CalendarDate& out) noexcept {
  if (read_exact_date(obj, out)) return true;
  Keys* k = keys();
  if (!k) return false;
  long year = 0, month = 0, day = 0;
  if (!read_int(obj, k->year, INT32_MIN, INT32_MAX, year) ||
      !read_int(obj, k->month, 0, UINT8_MAX, month) || !read_int(obj, k->day, 0, UINT8_MAX, day))
    return false;
  out = CalendarDate{static_cast<std::int32_t>(year), static_cast<std::uint8_t>(month),
                     static_cast<std::uint8_t>(day)};
  return true;
}

namespace {

template <class Floats>
PyRef make_record_dict(const DailyRecord& record, Floats& floats, DateMaker& dates) noexcept {
  Keys* k = keys();
  if (!k) return {};
  PyRef dict = PyRef::steal(PyDict_Copy(k->record_template));
  if (!dict) return {};
  PyRef date = dates.make(record.date);
  if (!date || PyDict_SetItem(dict.get(), k->date, date.get()) < 0) return {};
  int i = 0;
  bool ok = true;
  for_each_index(record, [&](const char*, const auto& field) {
    PyObject* key = k->index[i++];
    if (!ok || !field) return;  // an absent index keeps the template's None
    PyRef value = index_to_py(field, floats);
    if (!value || PyDict_SetItem(dict.get(), key, value.get()) < 0) ok = false;
  });
  if (!ok) return {};
  return dict;
}

}  // namespace

PyRef record_to_dict(const DailyRecord& record, FloatPool& floats, DateMaker& dates) noexcept {
  return make_record_dict(record, floats, dates);
}

PyRef record_to_dict(const DailyRecord& record) noexcept {
  RecordFloats floats;
  DateMaker dates;
  return make_record_dict(record, floats, dates);
}

}  // namespace heliodex::python
