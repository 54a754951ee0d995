// The Python class Descriptor: F, X and Y by name.
#include <cstdint>
#include <string>

#include "base/descriptor.hpp"
#include "py_common/args.hpp"
#include "py_common/boxed.hpp"
#include "py_common/errors.hpp"
#include "py_common/module_common.hpp"
#include "py_common/module_types.hpp"

namespace skyrec::py {
namespace {

struct Fxy {
    std::uint8_t f, x, y;
};

PyObject* descriptor_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"f", "x", "y", nullptr};
    PyObject *f_obj, *x_obj, *y_obj;
    if (!parse_args(args, kwargs, "OOO:Descriptor", names, &f_obj, &x_obj, &y_obj)) return nullptr;
    std::uint64_t f = 0, x = 0, y = 0;
    if (!uint_arg(f_obj, "f", 255, &f) || !uint_arg(x_obj, "x", 255, &x) || !uint_arg(y_obj, "y", 255, &y)) {
        return nullptr;
    }
    return box(type, Fxy{static_cast<std::uint8_t>(f), static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y)});
}

DescriptorCode fxy_code(PyObject* self) {
    const Fxy& d = unbox<Fxy>(self);
    return make_code(d.f, d.x, d.y);
}

PyObject* descriptor_from_fxy(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"code", nullptr};
    PyObject* code_obj;
    if (!parse_args(args, kwargs, "O:from_fxy", names, &code_obj)) return nullptr;
    std::uint64_t code = 0;
    if (!uint_arg(code_obj, "code", 0xFFFFFFFFu, &code)) return nullptr;
    const auto c = static_cast<DescriptorCode>(code);
    // Each part keeps its low 8 bits: F and Y above 255 wrap.
    return box(types.descriptor, Fxy{static_cast<std::uint8_t>(code_f(c)), static_cast<std::uint8_t>(code_x(c)),
                                     static_cast<std::uint8_t>(code_y(c))});
}

PyObject* descriptor_fxy(PyObject* self, void*) { return to_py(fxy_code(self)); }

PyObject* descriptor_repr(PyObject* self) {
    const std::string text = "Descriptor(" + descriptor_text(fxy_code(self)) + ")";
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

PyMethodDef descriptor_methods[] = {
    {"from_fxy", kw_method(guard<descriptor_from_fxy>), METH_VARARGS | METH_KEYWORDS | METH_STATIC,
     "from_fxy(code)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef descriptor_getset[] = {
    {"f", field_getter<Fxy, &Fxy::f>, nullptr, nullptr, nullptr},
    {"x", field_getter<Fxy, &Fxy::x>, nullptr, nullptr, nullptr},
    {"y", field_getter<Fxy, &Fxy::y>, nullptr, nullptr, nullptr},
    {"fxy", descriptor_fxy, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

// Kept for compatibility: the class lives under "builtins", not the module's name.
PyObject* create_descriptor_type(PyObject* module) {
    return boxed_type<Fxy>(module, "builtins.Descriptor",
                           {{Py_tp_new, slot(descriptor_new)},
                            {Py_tp_repr, slot(guard<descriptor_repr>)},
                            {Py_tp_methods, descriptor_methods},
                            {Py_tp_getset, descriptor_getset},
                            {Py_tp_doc, const_cast<char*>("Descriptor(f, x, y)\n--\n\n")}});
}

}  // namespace skyrec::py
