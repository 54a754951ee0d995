#include "py_native/decode_error.hpp"

#include <utility>

#include "py_common/errors.hpp"

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
    if (type == nullptr) return false;
    if (PyModule_AddObjectRef(module, "DecodeError", type) != 0) {
        Py_DECREF(type);
        return false;
    }
    // Kept for the life of the process, as the module's classes are.
    Py_XDECREF(std::exchange(decode_error_type, type));
    return true;
}

PyObject* decode_error_class() noexcept { return decode_error_type; }

PyObject* raise_decode_error(const BufrError& error) { return raise(error, decode_error_type); }

}  // namespace skyrec::py
