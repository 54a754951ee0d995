// Memory that the core filled, handed to Python without a copy: an object
// that exports it through the buffer protocol (NumPy wraps it as it is, with
// np.frombuffer, and keeps the object alive as the array's base) and frees it
// with std::free when the last user lets go.
#pragma once

#include <cstddef>

#include "columns/buffer_pool.hpp"
#include "lib/python.hpp"

namespace skyrec::py {

// Creates the class skyrec._native.OwnedBuffer and adds it to `module`, at
// import; false with an error set.
bool create_owned_buffer_type(PyObject* module);

// A new object owning `buffer` (`bytes` of it written), which goes back to
// the pool when the object dies, or here if it cannot be made (nullptr with
// an error set then).
PyObject* owned_buffer(PooledBuffer buffer, std::size_t bytes);

}  // namespace skyrec::py
