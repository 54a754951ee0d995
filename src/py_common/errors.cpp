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

PyObject* raise(const BufrError& error) { return raise_text(PyExc_ValueError, error.message()); }

PyObject* raise_os_error(const BufrError& error) {
    // One argument only, so OSError stays OSError (no errno, no subclass).
    return raise_text(PyExc_OSError, error.detail());
}

}  // namespace skyrec::py
