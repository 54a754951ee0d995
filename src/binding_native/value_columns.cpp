#include "binding_native/value_columns.hpp"

#include <string_view>

#include "binding/boxed.hpp"
#include "binding/errors.hpp"
#include "binding_native/result_dict.hpp"

namespace skyrec::py {
namespace {

PyObject* text_str(std::string_view text) { return lossy_str(text); }

}  // namespace

bool set_codes(PyObject* dict, const char* key, GrowingArray<std::int32_t>& array, std::size_t count,
               std::size_t width) {
    const char format = width == 1   ? item_format<std::int8_t>()
                        : width == 2 ? item_format<std::int16_t>()
                                     : item_format<std::int32_t>();
    return set_item(dict, key, owned_buffer(array.release(), count, format, width));
}

bool set_value_columns(PyObject* d, BlockColumns& c) {
    const std::size_t n = c.size();
    const auto codes = [&](const char* key, GrowingArray<std::int32_t>& array, std::size_t categories) {
        return set_codes(d, key, array, n, c.code_width(categories));
    };
    // 0 and 1 bytes, exported as bools.
    const auto flags = [&](const char* key, GrowingArray<std::uint8_t>& array) {
        return set_item(d, key, owned_buffer(array.release(), n, item_format<bool>(), 1));
    };
    return set_column(d, "subset", c.subset, n) && set_column(d, "descriptor", c.descriptor, n) &&
           set_column(d, "value", c.value, n) && set_column(d, "raw", c.raw, n) &&
           flags("raw_present", c.raw_present) && codes("name", c.name, c.names.size()) &&
           codes("unit", c.unit, c.units.size()) && codes("text", c.text, c.texts.size()) &&
           codes("meaning", c.meaning, c.meanings.size()) && codes("key", c.key, c.keys.size()) &&
           set_column(d, "rank", c.rank, n) && set_item(d, "names", list_of(c.names, text_str)) &&
           set_item(d, "units", list_of(c.units, text_str)) && set_item(d, "texts", list_of(c.texts, text_str)) &&
           set_item(d, "meanings", list_of(c.meanings, text_str)) && set_item(d, "keys", list_of(c.keys, text_str)) &&
           set_item(d, "count", PyLong_FromSize_t(n));
}

}  // namespace skyrec::py
