// release_buffers() and pooled_bytes(): the column buffers that skyrec._native
// keeps for the next blocks once their arrays are gone (see
// columns/buffer_pool.hpp), freed or counted.
#include "py_native/functions.hpp"
#include "sinks/buffer_pool.hpp"

namespace skyrec::py {
namespace {

PyObject* release_buffers(PyObject*, PyObject*) { return PyLong_FromSize_t(release_pooled_buffers()); }

PyObject* kept_bytes(PyObject*, PyObject*) { return PyLong_FromSize_t(pooled_bytes()); }

}  // namespace

PyMethodDef release_buffers_def = {"release_buffers", release_buffers, METH_NOARGS, "release_buffers()\n--\n\n"};
PyMethodDef pooled_bytes_def = {"pooled_bytes", kept_bytes, METH_NOARGS, "pooled_bytes()\n--\n\n"};

}  // namespace skyrec::py
