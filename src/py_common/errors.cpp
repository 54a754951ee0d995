#include "py_common/errors.hpp"

#include <string>

#include "base/descriptor.hpp"
#include "py_common/pyref.hpp"

namespace skyrec::py {
namespace {

PyObject* raise_text(PyObject* type, const std::string& text) {
    Ref message = Ref::steal(lossy_str(text));
    if (message) PyErr_SetObject(type, message.get());
    return nullptr;
}

}  // namespace

PyObject* subset_object(const std::optional<std::uint32_t>& subset) {
    return subset ? PyLong_FromUnsignedLong(*subset) : Py_NewRef(Py_None);
}

PyObject* path_tuple(const std::vector<DescriptorCode>& path) {
    Ref tuple = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(path.size())));
    if (!tuple) return nullptr;
    for (std::size_t i = 0; i < path.size(); ++i) {
        PyObject* code = PyUnicode_FromString(descriptor_text(path[i]).c_str());
        if (code == nullptr) return nullptr;
        PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), code);
    }
    return tuple.release();
}

PyObject* raise(const BufrError& error, PyObject* decode_error) {
    PyObject* type = decode_error != nullptr ? decode_error : PyExc_ValueError;
    const std::string reason_text = error.reason();
    const std::string where_text = error.where();
    std::string shown = error.message();
    if (decode_error != nullptr) shown = where_text.empty() ? reason_text : where_text + ": " + reason_text;
    Ref text = Ref::steal(lossy_str(shown));
    if (!text) return nullptr;
    Ref exception = Ref::steal(PyObject_CallOneArg(type, text.get()));
    if (!exception) return nullptr;
    auto set = [&](const char* name, PyObject* value) {
        Ref held = Ref::steal(value);
        return held && PyObject_SetAttrString(exception.get(), name, held.get()) == 0;
    };
    if (!set("kind", PyUnicode_FromString(error.kind_name()))) return nullptr;
    if (decode_error != nullptr &&
        !(set("reason", lossy_str(reason_text)) && set("where", lossy_str(where_text)) &&
          set("subset", subset_object(error.subset())) && set("descriptor_path", path_tuple(error.path())))) {
        return nullptr;
    }
    PyErr_SetObject(type, exception.get());
    return nullptr;
}

PyObject* raise_os_error(const BufrError& error) {
    // One argument only, so OSError stays OSError (no errno, no subclass).
    return raise_text(PyExc_OSError, error.detail());
}

}  // namespace skyrec::py
