// What the entries of both modules in the binary share: the classes in
// registration order, with where each is kept once created (_skyrec creates
// them; skyrec._native uses them), and making the module object.
#pragma once

#include <span>

#include "py_common/python.hpp"

namespace skyrec::py {

struct ClassEntry {
    const char* name;
    PyObject* (*create)(PyObject* module);
    PyTypeObject** store;
};

std::span<const ClassEntry> module_classes() noexcept;

// A new module object for `def`, or nullptr with an error set.
PyObject* new_module(PyModuleDef* def);

// Creates the class of `spec` for `module`, adds it as `name` and keeps it in
// `*store` for the life of the process, as the modules' other classes are;
// false with an error set.
bool add_class(PyObject* module, PyType_Spec* spec, const char* name, PyTypeObject** store);

}  // namespace skyrec::py
