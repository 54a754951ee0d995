#include "py_skyrec/value_list.hpp"

#include <algorithm>
#include <cstring>

#include "py_common/decoded_value_object.hpp"

namespace skyrec::py {

PyObject* PendingRefs::to_list() {
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(refs_.size()));
    if (list == nullptr) return nullptr;
    if (!refs_.empty()) {
        std::memcpy(reinterpret_cast<PyListObject*>(list)->ob_item, refs_.data(), refs_.size() * sizeof(PyObject*));
    }
    refs_.clear();
    return list;
}

bool ValueListBuilder::add_values(const std::vector<DecodedValue>& batch) {
    items_.make_room(batch.size());
    for (const DecodedValue& value : batch) {
        PyObject* name = strings_.get(value.name);
        if (name == nullptr) return false;
        PyObject* meaning = nullptr;
        if (value.meaning != nullptr && (meaning = strings_.get(value.meaning)) == nullptr) return false;
        const ValueView view{value.value,      value.raw,       value.name,    value.meaning,       value.text.view(),
                             value.descriptor, value.has_value, value.has_raw, value.text.present()};
        PyObject* object = new_decoded_value(view, name, meaning);
        if (object == nullptr) return false;
        items_.push(object);
    }
    return true;
}

bool ValueListBuilder::add_columns(const CompressedSection& section) {
    list_ = Ref::steal(PyList_New(static_cast<Py_ssize_t>(section.value_count())));
    if (!list_) return false;
    // Each column's name, found once, and the str of its last meaning: a
    // column's meanings repeat from subset to subset.
    struct Strs {
        PyObject* name;
        const std::string* meaning;
        PyObject* meaning_str;
    };
    std::vector<Strs> strs(section.columns.size());
    for (std::size_t c = 0; c < strs.size(); ++c) {
        if ((strs[c].name = strings_.get(section.columns[c].name)) == nullptr) return false;
    }
    PyObject** items = reinterpret_cast<PyListObject*>(list_.get())->ob_item;
    return visit_values(section, [&](std::size_t c, const ValueView& value) {
        Strs& s = strs[c];
        if (value.meaning != s.meaning) {
            s.meaning = value.meaning;
            s.meaning_str = s.meaning == nullptr ? nullptr : strings_.get(s.meaning);
            if (s.meaning != nullptr && s.meaning_str == nullptr) return false;
        }
        PyObject* object = new_decoded_value(value, s.name, s.meaning_str);
        if (object == nullptr) return false;
        *items++ = object;
        return true;
    });
}

PyObject* ValueListBuilder::finish() {
    if (list_) return list_.release();
    return items_.to_list();
}

PyObject* decoded_value_list(const std::vector<DecodedValue>& values) {
    SharedStrings strings;
    ValueListBuilder builder(strings);
    if (!builder.add_values(values)) return nullptr;
    return builder.finish();
}

}  // namespace skyrec::py
