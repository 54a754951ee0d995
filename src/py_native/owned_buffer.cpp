#include "py_native/owned_buffer.hpp"

#include <cstdlib>
#include <utility>

#include "py_common/boxed.hpp"
#include "py_common/errors.hpp"
#include "py_common/module_common.hpp"

namespace skyrec::py {
namespace {

struct OwnedMemory {
    PooledBuffer buffer;
    // Where a buffer view's shape and strides point.
    Py_ssize_t count = 0;
    Py_ssize_t item_size = 1;
    char format[2] = {'B', '\0'};

    OwnedMemory(PooledBuffer b, std::size_t n, char f, std::size_t size) noexcept
        : buffer(b), count(static_cast<Py_ssize_t>(n)), item_size(static_cast<Py_ssize_t>(size)), format{f, '\0'} {}
    OwnedMemory(OwnedMemory&& other) noexcept
        : buffer(std::exchange(other.buffer, {})),
          count(std::exchange(other.count, 0)),
          item_size(other.item_size),
          format{other.format[0], '\0'} {}
    OwnedMemory(const OwnedMemory&) = delete;
    OwnedMemory& operator=(const OwnedMemory&) = delete;
    OwnedMemory& operator=(OwnedMemory&&) = delete;
    ~OwnedMemory() { recycle_buffer(buffer); }
};

PyTypeObject* owned_buffer_type = nullptr;

int get_buffer(PyObject* self, Py_buffer* view, int flags) {
    static char empty = 0;  // an address for nothing, which some consumers need
    OwnedMemory& memory = unbox<OwnedMemory>(self);
    view->buf = memory.buffer.data != nullptr ? memory.buffer.data : &empty;
    view->obj = Py_NewRef(self);
    view->len = memory.count * memory.item_size;
    view->readonly = 0;
    view->itemsize = memory.item_size;
    view->format = (flags & PyBUF_FORMAT) != 0 ? memory.format : nullptr;
    view->ndim = 1;
    view->shape = (flags & PyBUF_ND) == PyBUF_ND ? &memory.count : nullptr;
    view->strides = (flags & PyBUF_STRIDES) == PyBUF_STRIDES ? &memory.item_size : nullptr;
    view->suboffsets = nullptr;
    view->internal = nullptr;
    return 0;
}

}  // namespace

bool create_owned_buffer_type(PyObject* module) {
    PyObject* type =
        boxed_type<OwnedMemory>(module, "skyrec._native.OwnedBuffer", {{Py_bf_getbuffer, slot(get_buffer)}});
    return add_class(module, type, "OwnedBuffer", &owned_buffer_type);
}

PyObject* owned_buffer(PooledBuffer buffer, std::size_t count, char format, std::size_t item_size) {
    OwnedMemory memory(buffer, count, format, item_size);
    return box(owned_buffer_type, std::move(memory));
}

}  // namespace skyrec::py
