#include "py_native/decode_error.hpp"

#include <string>
#include <utility>

#include "py_common/pyref.hpp"

namespace skyrec::py {
namespace {

PyObject* decode_error_type = nullptr;

constexpr const char* kDoc =
    "A message that could not be framed or decoded: `reason` says why and `where` (subset, descriptor path) "
    "where in the message, when known.";

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

PyObject* raise_decode_error(const BufrError& error) {
    const std::string reason_text = error.reason();
    const std::string where_text = error.where();
    Ref reason = Ref::steal(lossy_str(reason_text));
    Ref where = Ref::steal(lossy_str(where_text));
    Ref text = Ref::steal(lossy_str(where_text.empty() ? reason_text : where_text + ": " + reason_text));
    Ref kind = Ref::steal(PyUnicode_FromString(error.kind_name()));
    if (!reason || !where || !text || !kind) return nullptr;
    Ref exception = Ref::steal(PyObject_CallOneArg(decode_error_type, text.get()));
    if (!exception || PyObject_SetAttrString(exception.get(), "reason", reason.get()) != 0 ||
        PyObject_SetAttrString(exception.get(), "where", where.get()) != 0 ||
        PyObject_SetAttrString(exception.get(), "kind", kind.get()) != 0) {
        return nullptr;
    }
    PyErr_SetObject(decode_error_type, exception.get());
    return nullptr;
}

}  // namespace skyrec::py
