#include "native/owned_buffer.hpp"

#include <cstdlib>
#include <utility>

#include "lib/boxed.hpp"
#include "lib/errors.hpp"

namespace skyrec::py {
namespace {

struct OwnedMemory {
    PooledBuffer buffer;
    std::size_t bytes = 0;

    OwnedMemory(PooledBuffer b, std::size_t n) noexcept : buffer(b), bytes(n) {}
    OwnedMemory(OwnedMemory&& other) noexcept
        : buffer(std::exchange(other.buffer, {})), bytes(std::exchange(other.bytes, 0)) {}
    OwnedMemory(const OwnedMemory&) = delete;
    OwnedMemory& operator=(const OwnedMemory&) = delete;
    OwnedMemory& operator=(OwnedMemory&&) = delete;
    ~OwnedMemory() { recycle_buffer(buffer); }
};

PyTypeObject* owned_buffer_type = nullptr;

int get_buffer(PyObject* self, Py_buffer* view, int flags) {
    static char empty = 0;  // an address for nothing, which some consumers need
    const OwnedMemory& memory = unbox<OwnedMemory>(self);
    void* data = memory.buffer.data != nullptr ? memory.buffer.data : &empty;
    return PyBuffer_FillInfo(view, self, data, static_cast<Py_ssize_t>(memory.bytes), 0, flags);
}

PyType_Slot owned_buffer_slots[] = {
    {Py_tp_dealloc, slot(boxed_dealloc<OwnedMemory>)},
    {Py_bf_getbuffer, slot(get_buffer)},
    {0, nullptr},
};

PyType_Spec owned_buffer_spec = {
    "skyrec._native.OwnedBuffer",
    sizeof(Boxed<OwnedMemory>),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    owned_buffer_slots,
};

}  // namespace

bool create_owned_buffer_type(PyObject* module) {
    PyObject* type = PyType_FromModuleAndSpec(module, &owned_buffer_spec, nullptr);
    if (type == nullptr) return false;
    if (PyModule_AddObjectRef(module, "OwnedBuffer", type) != 0) {
        Py_DECREF(type);
        return false;
    }
    // Kept for the life of the process, as the module's other classes are.
    Py_XDECREF(std::exchange(owned_buffer_type, reinterpret_cast<PyTypeObject*>(type)));
    return true;
}

PyObject* owned_buffer(PooledBuffer buffer, std::size_t bytes) {
    OwnedMemory memory(buffer, bytes);
    return box(owned_buffer_type, std::move(memory));
}

}  // namespace skyrec::py
