// What the entries of both modules in the binary share: the classes in
// registration order, with where each is kept once created (_skyrec creates
// them; skyrec._native uses them), and the modules' definitions.
//
// Both modules use multi-phase initialisation: each owns its classes and
// exception classes in its module state, which the garbage collector sees.
// The code that makes instances reads them through plain pointers, set as
// they are made and cleared with the state: one interpreter per process owns
// them, and a state lookup per object would cost on the per-value path.
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

// What a module's state holds: its classes, each with the plain pointer
// that the code making instances reads.
struct ModuleState {
    struct Held {
        PyObject* object;
        PyObject** pointer;
    };
    Held held[8];
    std::size_t count;
};

int traverse_state(PyObject* module, visitproc visit, void* arg);
int clear_state(PyObject* module);
void free_state(void* module);

// The definition of module `name`, made by `Exec` on import, with the state
// above: what its PyInit returns through PyModuleDef_Init.
template <int (*Exec)(PyObject*)>
PyModuleDef* module_definition(const char* name) {
    static PyModuleDef_Slot slots[] = {
        {Py_mod_exec, slot(Exec)},
#if PY_VERSION_HEX >= 0x030C0000
        // The classes' pointers are process-wide.
        {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#endif
#ifdef Py_GIL_DISABLED
        {Py_mod_gil, Py_MOD_GIL_USED},
#endif
        {0, nullptr},
    };
    static PyModuleDef def = {
        PyModuleDef_HEAD_INIT, name, "", sizeof(ModuleState), nullptr, slots, traverse_state, clear_state, free_state,
    };
    return &def;
}

// Keeps `object` (a new reference, or nullptr with an error set) in
// `module`'s state, with `*pointer` borrowing it; false with an error set.
bool keep(PyObject* module, PyObject* object, PyObject** pointer);
bool keep(PyObject* module, PyObject* type, PyTypeObject** pointer);

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
// `module` as `name` and keeps it as keep() does; false with an error set.
bool add_class(PyObject* module, PyObject* type, const char* name, PyTypeObject** store);

// Adds `object` to `module` as `name`, and the name to the list `all` when
// one is given; false with an error set.
bool add_object(PyObject* module, const char* name, PyObject* object, PyObject* all = nullptr);

// Adds a function of `module` for each of `defs`, as add_object does.
bool add_functions(PyObject* module, std::span<PyMethodDef* const> defs, PyObject* all = nullptr);

}  // namespace skyrec::py
