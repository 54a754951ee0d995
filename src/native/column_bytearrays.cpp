#include "native/column_bytearrays.hpp"

#include <cstdint>
#include <utility>

namespace skyrec::py {
namespace {

struct Layout {
    const char* key;
    std::size_t item_size;
};

// In the order of ColumnArrays' members.
constexpr Layout kLayout[] = {
    {"descriptor", sizeof(DescriptorCode)}, {"value", sizeof(double)},         {"raw", sizeof(std::uint64_t)},
    {"raw_present", sizeof(std::uint8_t)},  {"subset", sizeof(std::uint32_t)}, {"element", sizeof(std::int32_t)},
    {"text", sizeof(std::int32_t)},         {"meaning", sizeof(std::int32_t)}, {"rank", sizeof(std::uint32_t)},
};

template <class T>
T* data_of(const Ref& array) noexcept {
    return reinterpret_cast<T*>(PyByteArray_AS_STRING(array.get()));
}

}  // namespace

std::optional<ColumnBytearrays> ColumnBytearrays::make(std::size_t count) {
    ColumnBytearrays made;
    made.columns_.reserve(std::size(kLayout));
    for (const Layout& column : kLayout) {
        Ref array =
            Ref::steal(PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(count * column.item_size)));
        if (!array) return std::nullopt;
        made.columns_.push_back({column.key, std::move(array)});
    }
    return made;
}

ColumnArrays ColumnBytearrays::arrays() const noexcept {
    const auto& c = columns_;
    return {
        data_of<DescriptorCode>(c[0].array), data_of<double>(c[1].array),        data_of<std::uint64_t>(c[2].array),
        data_of<std::uint8_t>(c[3].array),   data_of<std::uint32_t>(c[4].array), data_of<std::int32_t>(c[5].array),
        data_of<std::int32_t>(c[6].array),   data_of<std::int32_t>(c[7].array),  data_of<std::uint32_t>(c[8].array)};
}

bool ColumnBytearrays::add_to(PyObject* dict) const {
    for (const Column& column : columns_) {
        if (PyDict_SetItemString(dict, column.key, column.array.get()) != 0) return false;
    }
    return true;
}

}  // namespace skyrec::py
