#include "binding/shared_strings.hpp"

namespace skyrec::py {

PyObject* SharedStrings::fill(Slot& slot, const std::string* text) {
    auto it = owned_.find(text);
    if (it == owned_.end()) {
        Ref str = Ref::steal(lossy_str(*text));
        if (!str) return nullptr;
        it = owned_.emplace(text, std::move(str)).first;
    }
    slot = Slot{text, it->second.get()};
    return slot.str;
}

}  // namespace skyrec::py
