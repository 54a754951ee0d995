#include "py_common/shared_strings.hpp"

namespace skyrec::py {

PyObject* SharedStrings::fill(Slots::Slot& slot, const std::string* text) {
    Ref str = Ref::steal(lossy_str(*text));
    if (!str) return nullptr;
    PyObject* made = str.get();
    strs_.push_back(std::move(str));
    slots_.fill(slot, text, made);
    return made;
}

}  // namespace skyrec::py
