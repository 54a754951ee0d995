#include "py_native/decode_error.hpp"

#include "py_common/errors.hpp"
#include "py_common/module_common.hpp"

namespace skyrec::py {
namespace {

PyObject* decode_error_type = nullptr;

constexpr const char* kDoc =
    "A message that could not be framed or decoded: `kind` names the cause, `reason` says why and `where` "
    "(subset, descriptor path) where in the message, when known.";

}  // namespace

bool create_decode_error(PyObject* module) {
    // Named for the package, which re-exports it, so that pickles find it there.
    PyObject* type = PyErr_NewExceptionWithDoc("skyrec.DecodeError", kDoc, PyExc_ValueError, nullptr);
    return keep(module, type, &decode_error_type) && PyModule_AddObjectRef(module, "DecodeError", type) == 0;
}

PyObject* decode_error_class() noexcept { return decode_error_type; }

PyObject* raise_decode_error(const BufrError& error) { return raise(error, decode_error_type); }

}  // namespace skyrec::py
