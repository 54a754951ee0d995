// The nine value columns of ColumnArrays as new bytearrays, which the core
// fills in place while other threads run (no bytearray is reachable from
// Python until it is put in the result).
#pragma once

#include <optional>
#include <vector>

#include "columns/column_builder.hpp"
#include "lib/pyref.hpp"
#include "lib/python.hpp"

namespace skyrec::py {

class ColumnBytearrays {
public:
    // Bytearrays of `count` items each; nullopt with MemoryError set.
    static std::optional<ColumnBytearrays> make(std::size_t count);

    // Where the core writes.
    ColumnArrays arrays() const noexcept;

    // dict["descriptor"], dict["value"], ... = the bytearrays; false with an error set.
    bool add_to(PyObject* dict) const;

private:
    struct Column {
        const char* key;
        Ref array;
    };
    std::vector<Column> columns_;
};

}  // namespace skyrec::py
