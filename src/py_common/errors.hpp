// Turning core errors and C++ failures into Python exceptions, in one place.
#pragma once

#include <cstdint>
#include <exception>
#include <new>
#include <optional>
#include <stdexcept>
#include <vector>

#include "base/result.hpp"
#include "py_common/python.hpp"

namespace skyrec::py {

// Where a decode failed, as the package's errors give it: the subset (an
// int, or None) and the descriptor path (a tuple of 6-digit strings,
// outermost first). New references; nullptr when out of memory.
PyObject* subset_object(const std::optional<std::uint32_t>& subset);
PyObject* path_tuple(const std::vector<DescriptorCode>& path);

// The one way a core error becomes an exception, its `kind` attribute set.
// Without `decode_error` (_skyrec): ValueError(message). With
// it (the package's class): decode_error("{where}: {reason}"), `reason`,
// `where` ("" when the error says nothing of where), `subset` and
// `descriptor_path` set too. Returns nullptr.
PyObject* raise(const BufrError& error, PyObject* decode_error = nullptr);

// Raises a failure to read a message file as plain OSError(system text).
PyObject* raise_os_error(const BufrError& error);

// Runs `body` (returning PyObject*), turning escaping C++ exceptions into
// Python ones so that none reaches the interpreter.
template <class Body>
PyObject* guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::length_error&) {
        // A size no container can hold, as a sequence claiming 2**62 items asks for.
        return PyErr_NoMemory();
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
        return nullptr;
    } catch (...) {
        PyErr_SetString(PyExc_RuntimeError, "unexpected C++ exception");
        return nullptr;
    }
}

template <auto Function>
struct Guard;
template <class... Args, PyObject* (*Function)(Args...)>
struct Guard<Function> {
    static PyObject* call(Args... args) noexcept {
        return guarded([&] { return Function(args...); });
    }
};

// `Function` run by guarded, for registration as a slot or method whose
// argument conversion or repr allocates: a huge descriptor sequence must give
// MemoryError, not abort the interpreter.
template <auto Function>
inline constexpr auto guard = Guard<Function>::call;

// A core result, as a Python object made by `wrap` from its value, or raised.
template <class T, class Wrap>
PyObject* finish(Result<T>&& result, Wrap&& wrap) {
    if (!result) return raise(result.error());
    return wrap(std::move(result).value());
}

}  // namespace skyrec::py
