#include "py_native/path_arg.hpp"

#include "py_common/pyref.hpp"

namespace skyrec::py {

std::optional<std::string> path_arg(PyObject* obj, const char* name) {
    Ref fspath = Ref::steal(PyOS_FSPath(obj));
    if (!fspath) {
        PyErr_Format(PyExc_TypeError, "argument '%s' must be a path (str, bytes or os.PathLike), not %.200s", name,
                     Py_TYPE(obj)->tp_name);
        return std::nullopt;
    }
    PyObject* encoded = nullptr;
    if (PyUnicode_FSConverter(fspath.get(), &encoded) == 0) return std::nullopt;  // a NUL byte: ValueError
    Ref bytes = Ref::steal(encoded);
    return std::string(PyBytes_AS_STRING(encoded), static_cast<std::size_t>(PyBytes_GET_SIZE(encoded)));
}

std::optional<std::vector<std::string>> paths_arg(PyObject* obj, const char* name) {
    std::vector<std::string> paths;
    if (!PyList_Check(obj) && !PyTuple_Check(obj)) {
        auto path = path_arg(obj, name);
        if (!path) return std::nullopt;
        paths.push_back(std::move(*path));
        return paths;
    }
    Ref items = Ref::steal(PySequence_Fast(obj, "paths"));
    if (!items) return std::nullopt;
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(items.get()); ++i) {
        auto path = path_arg(PySequence_Fast_GET_ITEM(items.get(), i), name);
        if (!path) return std::nullopt;
        paths.push_back(std::move(*path));
    }
    return paths;
}

PyObject* path_str(const std::string& path) {
    return PyUnicode_DecodeFSDefaultAndSize(path.data(), static_cast<Py_ssize_t>(path.size()));
}

}  // namespace skyrec::py
