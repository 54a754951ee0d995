// Argument conversions shared by every function and method of the module.
// Each returns false / nullopt with a Python exception set on failure.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/bytes.hpp"
#include "base/descriptor.hpp"
#include "py_common/python.hpp"

namespace skyrec::py {

// Parses positional-or-keyword arguments; `format` as PyArg_ParseTupleAndKeywords.
template <class... Out>
bool parse_args(PyObject* args, PyObject* kwargs, const char* format, const char* const* names, Out*... out) {
    return PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(names), out...) != 0;
}

// Exactly `bytes` (or a subclass), read in place.
std::optional<ByteView> bytes_arg(PyObject* obj, const char* name);

// A `str` (or subclass) as UTF-8 text; paths are never bytes or PathLike.
std::optional<std::string> str_arg(PyObject* obj, const char* name);

// An int or an object with __index__, in 0..max. TypeError names the
// argument; OverflowError when out of range.
bool uint_arg(PyObject* obj, const char* name, std::uint64_t max, std::uint64_t* out);

// Whether `obj` is an instance of `type` (or a subclass); TypeError naming
// the argument otherwise.
bool instance_arg(PyObject* obj, PyTypeObject* type, const char* name);

// A sequence (not a str) of descriptor codes in 0..4294967295.
std::optional<std::vector<DescriptorCode>> descriptor_list_arg(PyObject* obj, const char* name);

}  // namespace skyrec::py
