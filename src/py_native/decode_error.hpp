// skyrec.DecodeError: what the package raises and reports for a message that
// cannot be decoded, apart from a fault of skyrec's own (any other exception).
#pragma once

#include "base/error.hpp"
#include "py_common/python.hpp"

namespace skyrec::py {

// Creates the class and adds it to `module`, at import; false with an error set.
bool create_decode_error(PyObject* module);

// The class, borrowed (after create_decode_error).
PyObject* decode_error_class() noexcept;

// Raises `error` as DecodeError through the one raise function (py_common/errors.hpp):
// "{where}: {reason}", `kind`, `reason` and `where` set. Returns nullptr.
PyObject* raise_decode_error(const BufrError& error);

}  // namespace skyrec::py
