#include "py_skyrec/value_list.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

#include "py_common/decoded_value_object.hpp"

namespace skyrec::py {

void PendingRefs::grow(std::size_t capacity) {
    auto refs = std::make_unique_for_overwrite<PyObject*[]>(capacity);
    if (size_ != 0) std::memcpy(refs.get(), refs_.get(), size_ * sizeof(PyObject*));
    refs_ = std::move(refs);
    capacity_ = capacity;
}

PyObject* PendingRefs::to_list() {
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(size_));
    if (list == nullptr) return nullptr;
    if (size_ != 0) std::memcpy(reinterpret_cast<PyListObject*>(list)->ob_item, refs_.get(), size_ * sizeof(PyObject*));
    size_ = 0;
    return list;
}

bool ValueListBuilder::add_values(const std::vector<DecodedValue>& batch) {
    items_.make_room(batch.size());
    for (const DecodedValue& value : batch) {
        PyObject* name = strings_.get(value.name);
        if (name == nullptr) return false;
        PyObject* meaning = nullptr;
        if (value.meaning != nullptr && (meaning = strings_.get(value.meaning)) == nullptr) return false;
        PyObject* object;
        if (!value.text.present()) [[likely]] {
            object = new_value_object(ValueFields{value.value, value.raw, name, meaning, value.descriptor, 0,
                                                  value.has_value, value.has_raw, false});
        } else {
            object = new_decoded_value(ValueView{value.value, value.raw, value.name, value.meaning, value.text.view(),
                                                 value.descriptor, value.has_value, value.has_raw, true},
                                       name, meaning);
        }
        if (object == nullptr) return false;
        items_.push(object);
    }
    return true;
}

bool ValueListBuilder::add_columns(const CompressedSection& section) {
    list_ = Ref::steal(PyList_New(static_cast<Py_ssize_t>(section.value_count())));
    if (!list_) return false;
    SectionRows rows(section);
    const std::size_t n = rows.columns();
    // Each column's fields as its next value takes them: its name's str,
    // found once, all of a Fixed column, and the str of a Coded column's last
    // meaning (a column's meanings repeat from subset to subset).
    struct Next {
        ValueFields fields;
        const std::string* meaning;
    };
    std::vector<Next> next(n);
    for (std::size_t c = 0; c < n; ++c) {
        const ValueView& v = rows.view(c);
        PyObject* name = strings_.get(v.name);
        if (name == nullptr) return false;
        next[c] = {ValueFields{v.value, v.raw, name, nullptr, v.descriptor, 0, v.has_value, v.has_raw, false},
                   v.meaning};
        if (v.meaning != nullptr && (next[c].fields.meaning = strings_.get(v.meaning)) == nullptr) return false;
    }
    PyObject** items = reinterpret_cast<PyListObject*>(list_.get())->ob_item;
    for (std::size_t j = 0; j < section.subsets; ++j) {
        if (j % kSubsetsBetweenInterruptChecks == 0 && interrupt_requested()) return false;
        rows.read_numbers(j);
        for (std::size_t c = 0; c < n; ++c) {
            Next& x = next[c];
            const ColumnPass pass = rows.pass(c);
            if (pass == ColumnPass::Text) {
                PyObject* text = new_decoded_value(rows.finish(c, j), x.fields.name, nullptr);
                if (text == nullptr) return false;
                *items++ = text;
                continue;
            }
            if (pass != ColumnPass::Fixed) {
                const ValueView& v = pass == ColumnPass::Number ? rows.view(c) : rows.finish(c, j);
                x.fields.value = v.value;
                x.fields.raw = v.raw;
                x.fields.has_value = v.has_value;
                if (v.meaning != x.meaning) {
                    x.meaning = v.meaning;
                    x.fields.meaning = x.meaning == nullptr ? nullptr : strings_.get(x.meaning);
                    if (x.meaning != nullptr && x.fields.meaning == nullptr) return false;
                }
            }
            PyObject* object = new_value_object(x.fields);
            if (object == nullptr) return false;
            *items++ = object;
        }
    }
    return true;
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
