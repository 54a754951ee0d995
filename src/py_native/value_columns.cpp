#include "py_native/value_columns.hpp"

#include <algorithm>
#include <iterator>
#include <string_view>

#include "py_common/args.hpp"
#include "py_common/boxed.hpp"
#include "py_common/errors.hpp"
#include "py_common/pyref.hpp"
#include "py_native/result_dict.hpp"

namespace skyrec::py {
namespace {

PyObject* text_str(std::string_view text) { return lossy_str(text); }

struct ArrayName {
    const char* name;
    BlockArray array;
};

constexpr ArrayName kArrayNames[] = {
    {"file", BlockArray::file},     {"message", BlockArray::message},       {"offset", BlockArray::offset},
    {"subset", BlockArray::subset}, {"descriptor", BlockArray::descriptor}, {"name", BlockArray::name},
    {"unit", BlockArray::unit},     {"value", BlockArray::value},           {"raw", BlockArray::raw},
    {"text", BlockArray::text},     {"meaning", BlockArray::meaning},       {"key", BlockArray::key},
    {"rank", BlockArray::rank},
};

}  // namespace

std::optional<ArraySet> arrays_arg(PyObject* names) {
    if (names == Py_None) return ArraySet::all();
    Ref items = Ref::steal(PySequence_Fast(names, "columns must be a sequence of str"));
    if (!items) return std::nullopt;
    ArraySet arrays;
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(items.get()); ++i) {
        auto name = str_arg(PySequence_Fast_GET_ITEM(items.get(), i), "columns");
        if (!name) return std::nullopt;
        const auto* found = std::find_if(std::begin(kArrayNames), std::end(kArrayNames),
                                         [&](const ArrayName& a) { return *name == a.name; });
        if (found == std::end(kArrayNames)) {
            PyErr_Format(PyExc_ValueError, "no column %R", PySequence_Fast_GET_ITEM(items.get(), i));
            return std::nullopt;
        }
        arrays = arrays.with(found->array);
        if (found->array == BlockArray::raw) arrays = arrays.with(BlockArray::raw_present);
    }
    return arrays;
}

bool set_codes(PyObject* dict, const char* key, GrowingArray<std::int32_t>& array, std::size_t count,
               std::size_t width) {
    const char format = width == 1   ? item_format<std::int8_t>()
                        : width == 2 ? item_format<std::int16_t>()
                                     : item_format<std::int32_t>();
    return set_item(dict, key, owned_buffer(array.release(), count, format, width));
}

bool set_value_columns(PyObject* d, BlockColumns& c) {
    const std::size_t n = c.size();
    const auto column = [&](const char* key, BlockArray which, auto& array) {
        return !c.has(which) || set_column(d, key, array, n);
    };
    const auto codes = [&](const char* key, BlockArray which, GrowingArray<std::int32_t>& array,
                           std::size_t categories) {
        return !c.has(which) || set_codes(d, key, array, n, c.code_width(categories));
    };
    // 0 and 1 bytes, exported as bools.
    const auto flags = [&](const char* key, BlockArray which, GrowingArray<std::uint8_t>& array) {
        return !c.has(which) || set_item(d, key, owned_buffer(array.release(), n, item_format<bool>(), 1));
    };
    return column("subset", BlockArray::subset, c.subset) &&
           column("descriptor", BlockArray::descriptor, c.descriptor) && column("value", BlockArray::value, c.value) &&
           column("raw", BlockArray::raw, c.raw) && flags("raw_present", BlockArray::raw_present, c.raw_present) &&
           codes("name", BlockArray::name, c.name, c.names.size()) &&
           codes("unit", BlockArray::unit, c.unit, c.units.size()) &&
           codes("text", BlockArray::text, c.text, c.texts.size()) &&
           codes("meaning", BlockArray::meaning, c.meaning, c.meanings.size()) &&
           codes("key", BlockArray::key, c.key, c.keys.size()) && column("rank", BlockArray::rank, c.rank) &&
           set_item(d, "names", list_of(c.names, text_str)) && set_item(d, "units", list_of(c.units, text_str)) &&
           set_item(d, "texts", list_of(c.texts, text_str)) && set_item(d, "meanings", list_of(c.meanings, text_str)) &&
           set_item(d, "keys", list_of(c.keys, text_str)) && set_item(d, "count", PyLong_FromSize_t(n));
}

}  // namespace skyrec::py
