#include "lib/errors.hpp"

#include <string>

#include "lib/pyref.hpp"

namespace skyrec::py {
namespace {

PyObject* raise_text(PyObject* type, const std::string& text) {
    // "replace" keeps system texts that are not valid UTF-8 readable.
    Ref message = Ref::steal(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
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
