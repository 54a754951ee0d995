// The columns of decoded values as Python sees them, named here and nowhere
// else: each column an OwnedBuffer typed by its item format (no copy), each
// category list a list of str.
#pragma once

#include <optional>

#include "py_common/python.hpp"
#include "py_native/owned_buffer.hpp"
#include "py_native/result_dict.hpp"
#include "sinks/block_columns.hpp"

namespace skyrec::py {

// dict[key] = `array` as an OwnedBuffer of `count` items; false with an error set.
template <class T>
bool set_column(PyObject* dict, const char* key, GrowingArray<T>& array, std::size_t count) {
    return set_item(dict, key, owned_buffer(array.release(), count, item_format<T>(), sizeof(T)));
}

// A code column, `width` bytes an item (see BlockColumns::code_width).
bool set_codes(PyObject* dict, const char* key, GrowingArray<std::int32_t>& array, std::size_t count,
               std::size_t width);

// The arrays that `names` (a sequence of str: file, message, offset,
// subset, descriptor, name, unit, value, raw, text, meaning, key, rank; raw
// brings raw_present) asks for, all of them for None; ValueError naming an
// unknown one.
std::optional<ArraySet> arrays_arg(PyObject* names);

// dict["subset"], ..., dict["rank"] for the arrays `columns` holds, the
// category lists "names", "units", "texts", "meanings" and "keys", and
// "count" from `columns`, whose arrays are handed over. The block's own tags
// (file, message, offset) are the caller's to add. False with an error set.
bool set_value_columns(PyObject* dict, BlockColumns& columns);

}  // namespace skyrec::py
