#include "py_common/errors.hpp"

#include <string>

#include "py_common/pyref.hpp"

namespace skyrec::py {
namespace {

PyObject* raise_text(PyObject* type, const std::string& text) {
    Ref message = Ref::steal(lossy_str(text));
    if (message) PyErr_SetObject(type, message.get());
    return nullptr;
}

}  // namespace

PyObject* raise(const BufrError& error, PyObject* decode_error) {
    PyObject* type = decode_error != nullptr ? decode_error : PyExc_ValueError;
    const std::string reason_text = error.reason();
    const std::string where_text = error.where();
    std::string shown = error.message();
    if (decode_error != nullptr) shown = where_text.empty() ? reason_text : where_text + ": " + reason_text;
    Ref text = Ref::steal(lossy_str(shown));
    if (!text) return nullptr;
    Ref exception = Ref::steal(PyObject_CallOneArg(type, text.get()));
    Ref kind = Ref::steal(PyUnicode_FromString(error.kind_name()));
    if (!exception || !kind || PyObject_SetAttrString(exception.get(), "kind", kind.get()) != 0) return nullptr;
    if (decode_error != nullptr) {
        Ref reason = Ref::steal(lossy_str(reason_text));
        Ref where = Ref::steal(lossy_str(where_text));
        if (!reason || !where || PyObject_SetAttrString(exception.get(), "reason", reason.get()) != 0 ||
            PyObject_SetAttrString(exception.get(), "where", where.get()) != 0) {
            return nullptr;
        }
    }
    PyErr_SetObject(type, exception.get());
    return nullptr;
}

PyObject* raise_os_error(const BufrError& error) {
    // One argument only, so OSError stays OSError (no errno, no subclass).
    return raise_text(PyExc_OSError, error.detail());
}

}  // namespace skyrec::py
