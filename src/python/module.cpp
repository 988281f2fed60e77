// Module initialisation: one module object per process, refused in a second interpreter.
#include <atomic>
#include <cstdint>

#include "python/binding.hpp"

namespace heliodex::python {
namespace {

PyModuleDef g_def = {PyModuleDef_HEAD_INIT, "heliodex", "", 0, nullptr,
                     nullptr, nullptr, nullptr, nullptr};
std::atomic<std::int64_t> g_interpreter{-1};
PyObject* g_module = nullptr;

bool add_class(PyObject* module) {
  PyTypeObject* type = heliodex_type();
  if (!type) return false;
  PyRef all = PyRef::steal(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    all = PyRef::steal(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
  }
  PyRef name = PyRef::steal(PyUnicode_FromString("Heliodex"));
  if (!name || PyList_Append(all.get(), name.get()) < 0) return false;
  return PyObject_SetAttrString(module, "Heliodex", reinterpret_cast<PyObject*>(type)) == 0;
}

PyObject* init() {
  const std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (id < 0) return nullptr;
  std::int64_t expected = -1;
  if (!g_interpreter.compare_exchange_strong(expected, id) && expected != id) {
    PyErr_SetString(PyExc_ImportError,
                    "heliodex does not support sub-interpreters: it is already initialised "
                    "in another interpreter of this process");
    return nullptr;
  }
  if (g_module) return Py_NewRef(g_module);
  PyRef module = PyRef::steal(PyModule_Create(&g_def));
  if (!module || !add_class(module.get())) return nullptr;
  g_module = Py_NewRef(module.get());
  return module.release();
}

}  // namespace
}  // namespace heliodex::python

PyMODINIT_FUNC PyInit_heliodex(void) {
  return heliodex::python::guarded([] { return heliodex::python::init(); });
}
