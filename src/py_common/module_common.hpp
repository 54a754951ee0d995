// What the entries of both modules in the binary share: the classes in
// registration order, with where each is kept once created (_skyrec creates
// them; skyrec._native uses them), and making the module object.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <span>

#include "py_common/boxed.hpp"
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

// A class of `module` named `name` (a literal: the class keeps it), of
// instances of `size` bytes freed by `dealloc`, with `slots` (their tables
// static); made from Python only when a Py_tp_new is among them. nullptr
// with an error set.
PyObject* new_type(PyObject* module, const char* name, std::size_t size, destructor dealloc,
                   std::initializer_list<PyType_Slot> slots);

// The class of Boxed<T>, as new_type makes it.
template <class T>
PyObject* boxed_type(PyObject* module, const char* name, std::initializer_list<PyType_Slot> slots) {
    return new_type(module, name, sizeof(Boxed<T>), boxed_dealloc<T>, slots);
}

// Adds class `type` (a new reference, or nullptr with an error set) to
// `module` as `name` and keeps it in `*store` for the life of the process, as
// the modules' other classes are; false with an error set.
bool add_class(PyObject* module, PyObject* type, const char* name, PyTypeObject** store);

// Adds `object` to `module` as `name`, and the name to the list `all` when
// one is given; false with an error set.
bool add_object(PyObject* module, const char* name, PyObject* object, PyObject* all = nullptr);

// Adds a function of `module` for each of `defs`, as add_object does.
bool add_functions(PyObject* module, std::span<PyMethodDef* const> defs, PyObject* all = nullptr);

}  // namespace skyrec::py
