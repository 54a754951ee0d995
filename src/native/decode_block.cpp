// decode_block(data, offsets, tables): the messages of `data` that start at
// `offsets`, each decoded with the TableSet at the same place in `tables`,
// as one set of columns (as decode_columns makes them, categories merged
// across the messages). Framing, decoding and filling run while other threads
// run; the Python results are made after. A message that fails adds no rows
// and is listed in "errors" as (position in offsets, reason); "rows" holds
// each message's number of values.
#include <string>
#include <vector>

#include "columns/block_columns.hpp"
#include "decode/decode_section4.hpp"
#include "lib/args.hpp"
#include "lib/boxed.hpp"
#include "lib/errors.hpp"
#include "lib/module_types.hpp"
#include "lib/pyref.hpp"
#include "message/limits.hpp"
#include "message/message_cursor.hpp"
#include "native/buffer_arg.hpp"
#include "native/bytearrays.hpp"
#include "native/column_bytearrays.hpp"
#include "native/functions.hpp"

namespace skyrec::py {
namespace {

struct Failure {
    std::size_t position;
    std::string reason;
};

struct Block {
    BlockColumns columns;
    std::vector<std::uint64_t> rows;
    std::vector<Failure> errors;
};

// Each decode is bounded on its own, but a block of many small messages
// could still gather billions of values: the block stays within
// kMaxDecodedValues plus kMaxBlockValuesPerByte for each byte of its messages.
struct BlockBound {
    std::uint64_t bytes = 0;
    std::uint64_t values = 0;

    Status admit(std::size_t message_values) {
        const std::uint64_t bound = kMaxDecodedValues + kMaxBlockValuesPerByte * bytes;
        if (values + message_values > bound) {
            return BufrError::text("decoded block exceeded " + std::to_string(bound) + " values for its " +
                                   std::to_string(bytes) + " bytes of messages");
        }
        values += message_values;
        return Ok{};
    }
};

// One message's values appended to `builder`, or the reason it has none.
Result<std::size_t> decode_one(ByteView bytes, std::size_t offset, const TableSet& tables, BlockBuilder& builder,
                               std::vector<std::size_t>& starts, BlockBound& bound) {
    MessageCursor cursor(bytes, offset);
    auto found = offset < bytes.size ? cursor.next() : std::nullopt;
    if (!found || found->start != offset) return BufrError::missing_marker();
    bound.bytes += found->length;
    if (!found->framed) return std::move(found->framed).error();
    const BufrMessage& message = found->framed.value();
    starts.clear();
    auto values =
        decode_section4(message, tables, message.section4_data(bytes.subview(offset, found->length)), &starts);
    if (!values) return std::move(values).error();
    SKYREC_CHECK(bound.admit(values->size()));
    builder.append(tables, *values, starts);
    return values->size();
}

Block decode_all(ByteView bytes, const std::vector<std::size_t>& offsets, const std::vector<const TableSet*>& tables) {
    Block block;
    BlockBuilder builder;
    std::vector<std::size_t> starts;
    BlockBound bound;
    block.rows.assign(offsets.size(), 0);
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        auto added = decode_one(bytes, offsets[i], *tables[i], builder, starts, bound);
        if (added) {
            block.rows[i] = *added;
        } else {
            block.errors.push_back({i, added.error().message()});
        }
    }
    block.columns = builder.take();
    return block;
}

PyObject* failure_tuple(const Failure& f) {
    Ref reason = Ref::steal(str_of(f.reason));
    if (!reason) return nullptr;
    return Py_BuildValue("(nO)", static_cast<Py_ssize_t>(f.position), reason.get());
}

PyObject* owned_str(const std::string& text) { return str_of(text); }

PyObject* block_dict(const Block& block) {
    const BlockColumns& c = block.columns;
    Ref dict = Ref::steal(PyDict_New());
    if (!dict) return nullptr;
    const auto columns = ColumnBytearrays::make(c.size());
    if (!columns) return nullptr;
    {
        WithoutGil unlocked;
        c.copy_to(columns->arrays());
    }
    const bool ok = columns->add_to(dict.get()) && set_bytearrays(dict.get(), {raw_array("rows", block.rows)}) &&
                    set_item(dict.get(), "count", PyLong_FromSize_t(c.size())) &&
                    set_item(dict.get(), "element_names", list_of(c.element_names, owned_str)) &&
                    set_item(dict.get(), "element_units", list_of(c.element_units, owned_str)) &&
                    set_item(dict.get(), "texts", list_of(c.texts, owned_str)) &&
                    set_item(dict.get(), "meanings", list_of(c.meanings, owned_str)) &&
                    set_item(dict.get(), "errors", list_of(block.errors, failure_tuple));
    return ok ? dict.release() : nullptr;
}

PyObject* decode_block(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"data", "offsets", "tables", nullptr};
    PyObject *data_obj, *offsets_obj, *tables_obj;
    if (!parse_args(args, kwargs, "OOO:decode_block", names, &data_obj, &offsets_obj, &tables_obj)) return nullptr;
    auto buffer = HeldBuffer::of(data_obj, "data");
    if (!buffer) return nullptr;
    Ref offsets_seq = Ref::steal(PySequence_Fast(offsets_obj, "argument 'offsets' must be a sequence"));
    if (!offsets_seq) return nullptr;
    Ref tables_seq = Ref::steal(PySequence_Fast(tables_obj, "argument 'tables' must be a sequence"));
    if (!tables_seq) return nullptr;
    const Py_ssize_t count = PySequence_Fast_GET_SIZE(offsets_seq.get());
    if (PySequence_Fast_GET_SIZE(tables_seq.get()) != count) {
        PyErr_SetString(PyExc_ValueError, "offsets and tables differ in length");
        return nullptr;
    }
    return guarded([&]() -> PyObject* {
        std::vector<std::size_t> offsets(static_cast<std::size_t>(count));
        std::vector<const TableSet*> tables(static_cast<std::size_t>(count));
        // The tables must live while the lock is released, whatever happens
        // to the sequence meanwhile.
        std::vector<Ref> held;
        held.reserve(static_cast<std::size_t>(count));
        for (Py_ssize_t i = 0; i < count; ++i) {
            std::uint64_t offset = 0;
            if (!uint_arg(PySequence_Fast_GET_ITEM(offsets_seq.get(), i), "offsets", PY_SSIZE_T_MAX, &offset)) {
                return nullptr;
            }
            PyObject* set = PySequence_Fast_GET_ITEM(tables_seq.get(), i);
            tables[static_cast<std::size_t>(i)] = table_set_arg(set, "tables");
            if (tables[static_cast<std::size_t>(i)] == nullptr) return nullptr;
            held.push_back(Ref::borrow(set));
            offsets[static_cast<std::size_t>(i)] = static_cast<std::size_t>(offset);
        }
        const Block block = [&] {
            WithoutGil unlocked;
            return decode_all(buffer->bytes(), offsets, tables);
        }();
        return block_dict(block);
    });
}

}  // namespace

PyMethodDef decode_block_def = {"decode_block", kw_method(guard<decode_block>), METH_VARARGS | METH_KEYWORDS,
                                "decode_block(data, offsets, tables)\n--\n\n"};

}  // namespace skyrec::py
