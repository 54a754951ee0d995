#include "py_native/result_dict.hpp"

#include "py_common/pyref.hpp"

namespace skyrec::py {

bool set_item(PyObject* dict, const char* key, PyObject* value) {
    Ref owned = Ref::steal(value);
    return owned && PyDict_SetItemString(dict, key, owned.get()) == 0;
}

}  // namespace skyrec::py
