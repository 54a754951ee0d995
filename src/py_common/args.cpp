#include "py_common/args.hpp"

#include <cstring>
#include <limits>

#include "py_common/pyref.hpp"

namespace skyrec::py {
namespace {

void type_error(const char* name, const char* expected, PyObject* got) {
    PyErr_Format(PyExc_TypeError, "argument '%s' must be %s, not %.200s", name, expected, Py_TYPE(got)->tp_name);
}

// An integer value in 0..max, or an exception set. `name` only labels the
// TypeError; range errors do not name the argument.
bool index_value(PyObject* obj, std::uint64_t max, std::uint64_t* out, const char* name) {
    if (!PyIndex_Check(obj)) {
        type_error(name, "int", obj);
        return false;
    }
    Ref integer = Ref::steal(PyNumber_Index(obj));
    if (!integer) return false;
    const unsigned long long v = PyLong_AsUnsignedLongLong(integer.get());
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        if (PyErr_ExceptionMatches(PyExc_OverflowError)) {
            PyErr_SetString(PyExc_OverflowError, "int out of range for an unsigned integer of this size");
        }
        return false;
    }
    if (v > max) {
        PyErr_SetString(PyExc_OverflowError, "int out of range for an unsigned integer of this size");
        return false;
    }
    *out = v;
    return true;
}

}  // namespace

std::optional<ByteView> bytes_arg(PyObject* obj, const char* name) {
    if (!PyBytes_Check(obj)) {
        type_error(name, "bytes", obj);
        return std::nullopt;
    }
    return ByteView{reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(obj)),
                    static_cast<std::size_t>(PyBytes_GET_SIZE(obj))};
}

std::optional<std::string> str_arg(PyObject* obj, const char* name) {
    if (!PyUnicode_Check(obj)) {
        type_error(name, "str", obj);
        return std::nullopt;
    }
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(obj, &size);
    if (text == nullptr) return std::nullopt;
    return std::string(text, static_cast<std::size_t>(size));
}

bool uint_arg(PyObject* obj, const char* name, std::uint64_t max, std::uint64_t* out) {
    return index_value(obj, max, out, name);
}

bool instance_arg(PyObject* obj, PyTypeObject* type, const char* name) {
    if (PyObject_TypeCheck(obj, type)) return true;
    // Our classes are named "builtins.X"; show X.
    const char* full = type->tp_name;
    const char* dot = std::strrchr(full, '.');
    type_error(name, dot ? dot + 1 : full, obj);
    return false;
}

std::optional<std::vector<DescriptorCode>> descriptor_list_arg(PyObject* obj, const char* name) {
    if (PyUnicode_Check(obj)) {
        // Kept for compatibility: the wording callers have always seen for a str here.
        PyErr_Format(PyExc_TypeError, "argument '%s': Can't extract `str` to `Vec`", name);
        return std::nullopt;
    }
    if (!PySequence_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "argument '%s': '%.200s' object cannot be converted to 'Sequence'", name,
                     Py_TYPE(obj)->tp_name);
        return std::nullopt;
    }
    const Py_ssize_t n = PySequence_Size(obj);
    if (n < 0) return std::nullopt;
    std::vector<DescriptorCode> codes;
    codes.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        Ref item = Ref::steal(PySequence_GetItem(obj, i));
        if (!item) return std::nullopt;
        std::uint64_t v = 0;
        if (!index_value(item.get(), std::numeric_limits<DescriptorCode>::max(), &v, name)) return std::nullopt;
        codes.push_back(static_cast<DescriptorCode>(v));
    }
    return codes;
}

}  // namespace skyrec::py
