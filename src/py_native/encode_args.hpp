// The arguments of skyrec._native's writing functions: headers, values and
// arrays made into what src/encode takes, under the interpreter lock.
#pragma once

#include <optional>
#include <vector>

#include "encode/encode_message.hpp"
#include "encode/slots.hpp"
#include "py_common/python.hpp"

namespace skyrec::py {

// Section 1's fields from a tuple of HEADER_FIELDS (skyrec/encode.py's order), over `header`.
bool header_arg(PyObject* fields, MessageHeader& header);
// Section 2: None (none), a bytes-like object (its local data) or True (keep `header`'s).
bool section2_arg(PyObject* obj, MessageHeader& header);

// One value: None or NaN missing, a number, str (Latin-1) or bytes a text,
// a DecodedValue its raw integer or text. Adds it to `slots`.
bool add_slot(PyObject* value, FlatSlots& slots);

// A 2-D float64 buffer, subsets by values (NaN missing), with some columns
// given as texts instead.
class ArraySlots final : public SlotSource {
public:
    static std::optional<ArraySlots> of(PyObject* array, PyObject* texts);
    ArraySlots(ArraySlots&&) noexcept;
    ArraySlots(const ArraySlots&) = delete;
    ~ArraySlots();

    std::size_t subsets() const override { return rows_; }
    std::size_t size(std::size_t) const override { return columns_; }
    Slot at(std::size_t subset, std::size_t index) const override;
    const double* numbers(std::size_t index, std::ptrdiff_t& stride) const override;

private:
    ArraySlots() = default;
    Py_buffer view_{};
    bool held_ = false;
    std::size_t rows_ = 0;
    std::size_t columns_ = 0;
    std::vector<int> text_column_;  // -1, or the index into texts_
    std::vector<FlatSlots> texts_;  // one subset per row
};

}  // namespace skyrec::py
