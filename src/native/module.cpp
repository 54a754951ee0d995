// skyrec._native: what the skyrec package needs beyond _skyrec, built from the
// same core and the same binding code. Its results are _skyrec's own classes
// (BufrMessage, DecodedValue) and it reads _skyrec's TableSet objects, so it
// takes those classes from _skyrec at import rather than making its own.
#include <utility>

#include "lib/module_common.hpp"
#include "lib/pyref.hpp"
#include "message/limits.hpp"
#include "native/functions.hpp"
#include "native/owned_buffer.hpp"

namespace skyrec::py {
namespace {

// Pointers, not copies: the definitions live in other files, whose
// initialisation order is not known here.
// clang-format off: one per line, so that additions merge cleanly.
PyMethodDef* const kFunctions[] = {
    &next_message_def,
    &decode_subsets_def,
    &decode_columns_def,
    &table_directories_def,
    &resolve_table_dir_def,
    &tables_from_texts_def,
    &tables_from_wmo_csv_def,
    &csv_records_def,
    &message_headers_def,
    &decode_block_def,
    &release_buffers_def,
    &pooled_bytes_def,
};
// clang-format on

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "skyrec._native", "", -1, nullptr, nullptr, nullptr, nullptr, nullptr,
};

// _skyrec's class `name`, after checking that its instances have the layout
// that this module's code gives them: the layout of the same class made here
// from the same code. A _skyrec from another build is refused at import.
PyTypeObject* shared_class(PyObject* module, PyObject* skyrec, const ClassEntry& entry) {
    Ref theirs = Ref::steal(PyObject_GetAttrString(skyrec, entry.name));
    if (!theirs) return nullptr;
    Ref ours = Ref::steal(entry.create(module));
    if (!ours) return nullptr;
    if (!PyType_Check(theirs.get()) || reinterpret_cast<PyTypeObject*>(theirs.get())->tp_basicsize !=
                                           reinterpret_cast<PyTypeObject*>(ours.get())->tp_basicsize) {
        PyErr_Format(PyExc_ImportError, "skyrec._native does not match _skyrec (class %s differs)", entry.name);
        return nullptr;
    }
    return reinterpret_cast<PyTypeObject*>(theirs.release());
}

PyObject* create_module() {
    Ref module = Ref::steal(new_module(&module_def));
    if (!module) return nullptr;
    Ref skyrec = Ref::steal(PyImport_ImportModule("_skyrec"));
    if (!skyrec) return nullptr;
    for (const ClassEntry& entry : module_classes()) {
        PyTypeObject* type = shared_class(module.get(), skyrec.get(), entry);
        if (type == nullptr) return nullptr;
        // Kept for the life of the process, as _skyrec keeps its own.
        PyTypeObject* previous = std::exchange(*entry.store, type);
        Py_XDECREF(previous);
    }
    if (!create_owned_buffer_type(module.get())) return nullptr;
    Ref module_name = Ref::steal(PyUnicode_FromString(module_def.m_name));
    if (!module_name) return nullptr;
    for (PyMethodDef* def : kFunctions) {
        Ref function = Ref::steal(PyCFunction_NewEx(def, module.get(), module_name.get()));
        if (!function || PyModule_AddObjectRef(module.get(), def->ml_name, function.get()) != 0) return nullptr;
    }
    // The bound on a message's values, for callers that plan memory by it.
    if (PyModule_AddIntConstant(module.get(), "VALUES_FLOOR", static_cast<long>(kFloor.values)) != 0 ||
        PyModule_AddIntConstant(module.get(), "VALUES_PER_BYTE", static_cast<long>(kPerInputByte.values)) != 0) {
        return nullptr;
    }
    return module.release();
}

}  // namespace
}  // namespace skyrec::py

PyMODINIT_FUNC PyInit__native() { return skyrec::py::create_module(); }
