#include "binding/shared_strings.hpp"

namespace skyrec::py {

PyObject* SharedStrings::fill(std::size_t slot, const std::string* text) {
    Ref str = Ref::steal(lossy_str(*text));
    if (!str) return nullptr;
    PyObject* made = str.get();
    strs_.push_back(std::move(str));
    slots_[slot] = Slot{text, made};
    if (2 * strs_.size() > slots_.size()) grow();
    return made;
}

void SharedStrings::grow() {
    std::vector<Slot> old(2 * slots_.size());
    old.swap(slots_);
    const std::size_t mask = slots_.size() - 1;
    for (const Slot& entry : old) {
        if (entry.text == nullptr) continue;
        std::size_t i = slot_of(entry.text, mask);
        while (slots_[i].text != nullptr)
            i = (i + 1) & mask;
        slots_[i] = entry;
    }
}

}  // namespace skyrec::py
