// The Heliodex class: method table, argument extraction, borrows and constructors.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>

#include "parsers/celestrak.hpp"
#include "parsers/set.hpp"
#include "python/binding.hpp"

namespace heliodex::python {
namespace {

constexpr std::size_t kExclusive = ~std::size_t{0};

// ---- argument extraction -------------------------------------------------------------

struct Params {
  const char* full_name;  // "Heliodex.get()"
  const char* const* names;
  Py_ssize_t count;
};

constexpr const char* kPathNames[] = {"path"};
constexpr const char* kDateNames[] = {"date"};
constexpr const char* kRangeNames[] = {"start", "end"};
constexpr const char* kOtherNames[] = {"other"};

// Fills out[0..count) with borrowed references, or raises the TypeError of the violation.
bool extract_args(const Params& p, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames,
                  PyObject** out) noexcept {
  const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
  if (nargs > p.count) {
    PyErr_Format(PyExc_TypeError, "%s takes %zd positional arguments but %zd %s given",
                 p.full_name, p.count, nargs, nargs == 1 ? "was" : "were");
    return false;
  }
  for (Py_ssize_t i = 0; i < p.count; ++i) out[i] = i < nargs ? args[i] : nullptr;
  const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, k);
    Py_ssize_t slot = -1;
    for (Py_ssize_t i = 0; i < p.count; ++i)
      if (PyUnicode_CompareWithASCIIString(key, p.names[i]) == 0) slot = i;
    if (slot < 0) {
      PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'", p.full_name,
                   key);
      return false;
    }
    if (out[slot]) {
      PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", p.full_name,
                   p.names[slot]);
      return false;
    }
    out[slot] = args[nargs + k];
  }
  Py_ssize_t n_missing = 0;
  for (Py_ssize_t i = 0; i < p.count; ++i)
    if (!out[i]) ++n_missing;
  if (n_missing == 0) return true;
  std::string missing;
  Py_ssize_t seen = 0;
  for (Py_ssize_t i = 0; i < p.count; ++i) {
    if (out[i]) continue;
    if (seen > 0) {
      if (n_missing == 2) missing += " and ";
      else if (seen == n_missing - 1) missing += ", and ";
      else missing += ", ";
    }
    missing += '\'';
    missing += p.names[i];
    missing += '\'';
    ++seen;
  }
  PyErr_Format(PyExc_TypeError, "%s missing %zd required positional %s: %s", p.full_name,
               n_missing, n_missing == 1 ? "argument" : "arguments", missing.c_str());
  return false;
}

// Replaces an exact TypeError raised while converting a parameter by
// "argument '{name}': {message}", keeping the replaced error's cause.
void rewrite_conversion_error(const char* name) noexcept {
  PyObject* raised = PyErr_GetRaisedException();
  if (!raised) return;
  if (Py_TYPE(raised) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
    PyErr_SetRaisedException(raised);
    return;
  }
  PyRef old = PyRef::steal(raised);
  PyRef text = PyRef::steal(PyObject_Str(old.get()));
  if (!text) return;
  PyRef msg = PyRef::steal(PyUnicode_FromFormat("argument '%s': %U", name, text.get()));
  if (!msg) return;
  PyRef fresh = PyRef::steal(PyObject_CallOneArg(PyExc_TypeError, msg.get()));
  if (!fresh) return;
  PyException_SetCause(fresh.get(), PyException_GetCause(old.get()));
  PyErr_SetRaisedException(fresh.release());
}

void raise_cannot_convert(PyObject* obj, const char* target) noexcept {
  PyRef qual = PyRef::steal(PyType_GetQualName(Py_TYPE(obj)));
  if (!qual) return;
  PyErr_Format(PyExc_TypeError, "'%U' object cannot be converted to '%s'", qual.get(), target);
}

// The path parameter as UTF-8 text, or nullptr with an exception set.
const char* convert_path(PyObject* obj, Py_ssize_t& size) noexcept {
  if (!PyUnicode_Check(obj)) {
    raise_cannot_convert(obj, "PyString");
    rewrite_conversion_error("path");
    return nullptr;
  }
  return PyUnicode_AsUTF8AndSize(obj, &size);
}

// ---- file reading --------------------------------------------------------------------

bool raise_os_error(int err) noexcept {
  PyErr_Format(PyExc_ValueError, "%s (os error %d)", std::strerror(err), err);
  return false;
}

// A file open for reading, closed when it goes.
struct OpenFile {
  int fd = -1;
  std::size_t size = 0;  // as stat tells it; 0 for pipes and /proc files, which do not know
  OpenFile() = default;
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  ~OpenFile() {
    if (fd >= 0) ::close(fd);
  }
};

// On failure raises ValueError (or a signal handler's exception) and returns false.
bool open_file(const char* name, Py_ssize_t name_size, OpenFile& file) {
  if (std::strlen(name) != static_cast<std::size_t>(name_size)) {
    PyErr_SetString(PyExc_ValueError, "file name contained an unexpected NUL byte");
    return false;
  }
  // Opening a named pipe waits for its writer; a signal that interrupts the wait runs its
  // handler here, and an exception from it (KeyboardInterrupt) ends the load.
  while ((file.fd = ::open(name, O_RDONLY | O_CLOEXEC)) < 0) {
    if (errno != EINTR) return raise_os_error(errno);
    if (PyErr_CheckSignals() < 0) return false;
  }
  struct stat st {};
  if (::fstat(file.fd, &st) != 0) return raise_os_error(errno);
  file.size = st.st_size > 0 ? static_cast<std::size_t>(st.st_size) : 0;
  return true;
}

// Up to n bytes into p: how many, 0 at the end of the file, or -1 with ValueError raised, or
// with the exception of a signal handler that ran while a read waited (on a pipe).
ssize_t read_some(const OpenFile& file, char* p, std::size_t n) {
  for (;;) {
    const ssize_t got = ::read(file.fd, p, n);
    if (got >= 0) return got;
    if (errno != EINTR) return raise_os_error(errno), -1;
    if (PyErr_CheckSignals() < 0) return -1;
  }
}

// ---- instances -----------------------------------------------------------------------

HeliodexObject* as_heliodex(PyObject* o) noexcept { return reinterpret_cast<HeliodexObject*>(o); }

PyObject* new_instance(HeliodexStore&& store) {
  PyTypeObject* type = heliodex_type();
  if (!type) return nullptr;
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  PyObject* obj = alloc(type, 0);
  if (!obj) return nullptr;
  HeliodexObject* self = as_heliodex(obj);
  new (&self->store) HeliodexStore(std::move(store));
  new (&self->borrow) std::atomic<std::size_t>(0);
  return obj;
}

void heliodex_dealloc(PyObject* obj) {
  PyTypeObject* type = Py_TYPE(obj);
  HeliodexObject* self = as_heliodex(obj);
  self->store.~HeliodexStore();
  self->borrow.~atomic();
  auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_fn(obj);
  Py_DECREF(type);
}

PyObject* heliodex_new(PyTypeObject* type, PyObject*, PyObject*) {
  PyRef name = PyRef::steal(PyType_GetName(type));
  if (name) PyErr_Format(PyExc_TypeError, "No constructor defined for %U", name.get());
  return nullptr;
}

using Records = Result<std::vector<DailyRecord>>;

// A file's records, or false with ValueError raised when the file cannot be read (or with a
// signal handler's exception). Where the parser can tell, ascending is set to whether the
// dates ascend.
using LoadFile = bool (*)(const char* name, Py_ssize_t size, std::optional<Records>& out,
                        bool& ascending);

// Feeds the file to loader a block at a time, each read while it is in the cache; the file
// is never in memory whole. The reading stops early where the loader has refused the file,
// so that a stream with no end (/dev/urandom) fails as a file of its first bytes would.
// A stream with no end that the loader cannot refuse (/dev/zero, whose one line never ends)
// would be read until memory runs out, and its reads never wait, so no signal interrupts
// them: pending signals are handled after every block, and an exception from a handler
// (KeyboardInterrupt) ends the load.
// False with ValueError raised when the file cannot be read, or with the handler's exception.
template <class FileLoader>
bool read_blocks(const OpenFile& file, FileLoader& loader) {
  for (;;) {
    const std::span<char> room = loader.space();
    const ssize_t n = read_some(file, room.data(), room.size());
    if (n < 0) return false;
    if (n == 0) return true;
    loader.commit(static_cast<std::size_t>(n));
    if (loader.refused()) return true;
    if (PyErr_CheckSignals() < 0) return false;
  }
}

template <set::Format format>
bool load_set(const char* name, Py_ssize_t size, std::optional<Records>& out, bool& ascending) {
  OpenFile file;
  if (!open_file(name, size, file)) return false;
  set::Loader loader(format, file.size);
  if (!read_blocks(file, loader)) return false;
  out.emplace(loader.finish(&ascending));
  return true;
}

bool load_celestrak(const char* name, Py_ssize_t size, std::optional<Records>& out,
                    bool& ascending) {
  OpenFile file;
  if (!open_file(name, size, file)) return false;
  celestrak::Loader loader(file.size);
  if (!read_blocks(file, loader)) return false;
  out.emplace(loader.finish(&ascending));
  return true;
}

PyObject* construct(const Params& params, LoadFile load, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames) {
  PyObject* path = nullptr;
  if (!extract_args(params, args, nargs, kwnames, &path)) return nullptr;
  Py_ssize_t size = 0;
  const char* name = convert_path(path, size);
  if (!name) return nullptr;
  bool ascending = false;
  std::vector<DailyRecord> records;
  {
    std::optional<Records> parsed;
    if (!load(name, size, parsed, ascending)) return nullptr;
    if (!*parsed) return parse_err(parsed->error());
    records = std::move(**parsed);
  }  // the file's bytes go before the records are sorted, which may take a second list
  HeliodexStore store = ascending ? HeliodexStore::make_ascending(std::move(records))
                                  : HeliodexStore::make(std::move(records));
  return new_instance(std::move(store));
}

constexpr Params kCelestrakParams{"Heliodex.from_celestrak_csv()", kPathNames, 1};
constexpr Params kSolfsmyParams{"Heliodex.from_set_solfsmy()", kPathNames, 1};
constexpr Params kDtcfileParams{"Heliodex.from_set_dtcfile()", kPathNames, 1};
constexpr Params kGetParams{"Heliodex.get()", kDateNames, 1};
constexpr Params kGetRangeParams{"Heliodex.get_range()", kRangeNames, 2};
constexpr Params kMergeParams{"Heliodex.merge()", kOtherNames, 1};

PyObject* from_celestrak_csv(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  return guarded([&] {
    return construct(kCelestrakParams, load_celestrak, args, nargs, kwnames);
  });
}

PyObject* from_set_solfsmy(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
  return guarded([&] {
    return construct(kSolfsmyParams, load_set<set::Format::solfsmy>, args, nargs, kwnames);
  });
}

PyObject* from_set_dtcfile(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
  return guarded([&] {
    return construct(kDtcfileParams, load_set<set::Format::dtcfile>, args, nargs, kwnames);
  });
}

PyObject* get(PyObject* obj, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* date = nullptr;
    if (!extract_args(kGetParams, args, nargs, kwnames, &date)) return nullptr;
    HeliodexObject* self = as_heliodex(obj);
    SharedBorrow borrow(self);
    if (!borrow.ok()) return nullptr;
    CalendarDate key;
    if (!py_to_date(date, key)) return nullptr;
    const DailyRecord* rec = self->store.get(key);
    if (!rec) Py_RETURN_NONE;
    return record_to_dict(*rec).release();
  });
}

PyObject* get_range(PyObject* obj, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* bounds[2] = {nullptr, nullptr};
    if (!extract_args(kGetRangeParams, args, nargs, kwnames, bounds)) return nullptr;
    HeliodexObject* self = as_heliodex(obj);
    SharedBorrow borrow(self);
    if (!borrow.ok()) return nullptr;
    CalendarDate start, end;
    if (!py_to_date(bounds[0], start) || !py_to_date(bounds[1], end)) return nullptr;
    const auto records = self->store.get_range(start, end);
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(records.size())));
    if (!list) return nullptr;
    FloatPool floats(records.size());
    DateMaker dates;
    Py_ssize_t i = 0;
    for (const DailyRecord& rec : records) {
      PyRef d = record_to_dict(rec, floats, dates);
      if (!d) return nullptr;  // the list releases the dictionaries made so far
      PyList_SET_ITEM(list.get(), i++, d.release());
    }
    return list.release();
  });
}

PyObject* merge(PyObject* obj, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* other = nullptr;
    if (!extract_args(kMergeParams, args, nargs, kwnames, &other)) return nullptr;
    HeliodexObject* self = as_heliodex(obj);
    ExclusiveBorrow mine(self);
    if (!mine.ok()) return nullptr;
    PyTypeObject* type = heliodex_type();
    if (!type) return nullptr;
    if (!PyObject_TypeCheck(other, type)) {
      raise_cannot_convert(other, "Heliodex");
      rewrite_conversion_error("other");
      return nullptr;
    }
    HeliodexObject* theirs_obj = as_heliodex(other);
    ExclusiveBorrow theirs(theirs_obj);
    if (!theirs.ok()) return nullptr;
    HeliodexStore taken = std::move(theirs_obj->store);
    theirs_obj->store = HeliodexStore();
    self->store.merge(std::move(taken));
    Py_RETURN_NONE;
  });
}

PyObject* len_method(PyObject* obj, PyObject*) {
  return guarded([&]() -> PyObject* {
    HeliodexObject* self = as_heliodex(obj);
    SharedBorrow borrow(self);
    if (!borrow.ok()) return nullptr;
    return PyLong_FromUnsignedLongLong(self->store.len());
  });
}

Py_ssize_t len_slot(PyObject* obj) {
  return guarded_len([&]() -> Py_ssize_t {
    HeliodexObject* self = as_heliodex(obj);
    SharedBorrow borrow(self);
    if (!borrow.ok()) return -1;
    return static_cast<Py_ssize_t>(self->store.len());
  });
}

PyObject* date_range(PyObject* obj, PyObject*) {
  return guarded([&]() -> PyObject* {
    HeliodexObject* self = as_heliodex(obj);
    SharedBorrow borrow(self);
    if (!borrow.ok()) return nullptr;
    const auto range = self->store.date_range();
    if (!range) Py_RETURN_NONE;
    DateMaker dates;
    PyRef first = dates.make(range->first);
    if (!first) return nullptr;
    PyRef last = dates.make(range->second);
    if (!last) return nullptr;
    return PyTuple_Pack(2, first.get(), last.get());
  });
}

PyObject* to_numpy_method(PyObject* obj, PyObject*) {
  return guarded([&]() -> PyObject* {
    HeliodexObject* self = as_heliodex(obj);
    SharedBorrow borrow(self);
    if (!borrow.ok()) return nullptr;
    return to_numpy(self->store);
  });
}

template <class F>
PyCFunction fastcall(F f) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

constexpr int kFast = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef kMethods[] = {
    {"from_celestrak_csv", fastcall(from_celestrak_csv), kFast | METH_STATIC,
     "from_celestrak_csv(path)\n--\n\n"},
    {"from_set_solfsmy", fastcall(from_set_solfsmy), kFast | METH_STATIC,
     "from_set_solfsmy(path)\n--\n\n"},
    {"from_set_dtcfile", fastcall(from_set_dtcfile), kFast | METH_STATIC,
     "from_set_dtcfile(path)\n--\n\n"},
    {"get", fastcall(get), kFast, "get($self, date)\n--\n\n"},
    {"get_range", fastcall(get_range), kFast, "get_range($self, start, end)\n--\n\n"},
    {"merge", fastcall(merge), kFast, "merge($self, other)\n--\n\n"},
    {"len", len_method, METH_NOARGS, "len($self)\n--\n\n"},
    {"date_range", date_range, METH_NOARGS, "date_range($self)\n--\n\n"},
    {"to_numpy", to_numpy_method, METH_NOARGS, "to_numpy($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(heliodex_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(heliodex_dealloc)},
    {Py_tp_methods, kMethods},
    {Py_mp_length, reinterpret_cast<void*>(len_slot)},
    {0, nullptr},
};

PyType_Spec kSpec{"builtins.Heliodex", sizeof(HeliodexObject), 0,
                  Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, kSlots};

PyObject* g_type = nullptr;
PyObject* g_fault = nullptr;

}  // namespace

SharedBorrow::SharedBorrow(HeliodexObject* self) noexcept : self_(self) {
  std::size_t cur = self->borrow.load(std::memory_order_relaxed);
  do {
    if (cur == kExclusive) {
      PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
      self_ = nullptr;
      return;
    }
  } while (!self->borrow.compare_exchange_weak(cur, cur + 1, std::memory_order_acquire,
                                               std::memory_order_relaxed));
}

SharedBorrow::~SharedBorrow() {
  if (self_) self_->borrow.fetch_sub(1, std::memory_order_release);
}

ExclusiveBorrow::ExclusiveBorrow(HeliodexObject* self) noexcept : self_(self) {
  std::size_t expected = 0;
  if (!self->borrow.compare_exchange_strong(expected, kExclusive, std::memory_order_acquire,
                                            std::memory_order_relaxed)) {
    PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
    self_ = nullptr;
  }
}

ExclusiveBorrow::~ExclusiveBorrow() {
  if (self_) self_->borrow.store(0, std::memory_order_release);
}

PyTypeObject* heliodex_type() noexcept {
  if (!g_type) g_type = PyType_FromSpec(&kSpec);
  return reinterpret_cast<PyTypeObject*>(g_type);
}

PyObject* parse_err(const HeliodexError& error) noexcept {
  try {
    PyErr_SetString(PyExc_ValueError, error.message().c_str());
  } catch (...) {
    PyErr_NoMemory();
  }
  return nullptr;
}

PyObject* raise_internal_fault() noexcept {
  if (!g_fault) {
    g_fault = PyErr_NewException("heliodex.InternalFault", PyExc_BaseException, nullptr);
    if (!g_fault) return nullptr;
  }
  PyErr_SetString(g_fault, "internal fault in heliodex");
  return nullptr;
}

}  // namespace heliodex::python
