// decode_block(pieces, columns=None, memory_limit=None, *, threads=2): the messages of
// several pieces (see message_pieces.hpp) as one set of columns. Decoding and
// filling the columns run while other threads run; the columns go to Python
// without a copy (as OwnedBuffer objects, codes narrowed to the bytes their
// categories need), categories merged across every message. A message that
// fails adds no rows and is listed in "errors" (see failure_tuple); "rows"
// holds each message's number of values, piece after piece. `columns` names
// the arrays to make (see arrays_arg): the others are left out of the dict,
// and cost nothing. `memory_limit` bounds the bytes of the columns
// (kDefaultBlockMemory when None): a message that would pass it is left out
// with its reason. `threads`: 1 lays out a large block on the calling thread
// alone, more lets it take a second.
#include <new>
#include <string>
#include <vector>

#include "base/interrupt.hpp"
#include "base/limits.hpp"
#include "py_common/args.hpp"
#include "py_common/boxed.hpp"
#include "py_common/errors.hpp"
#include "py_common/pyref.hpp"
#include "py_common/unlocked.hpp"
#include "py_native/buffer_arg.hpp"
#include "py_native/functions.hpp"
#include "py_native/message_arg.hpp"
#include "py_native/message_pieces.hpp"
#include "py_native/result_dict.hpp"
#include "py_native/value_columns.hpp"
#include "sinks/block_columns.hpp"

namespace skyrec::py {
namespace {

struct Block {
    BlockColumns columns;
    std::vector<std::uint64_t> rows;
    std::vector<MessageFailure> errors;
};

Block decode_all(const std::vector<FramedPiece>& pieces, ArraySet arrays, std::uint64_t memory_limit,
                 unsigned threads) {
    Block block;
    BlockBuilder builder(arrays);
    builder.set_memory_limit(memory_limit);
    builder.set_threads(threads);
    block.errors = run_messages(
        pieces,
        [&](const BufrMessage& message, const TableSet& tables, ByteView section4, std::size_t length,
            const MessageTag& tag) -> Result<std::size_t> {
            const std::size_t before = builder.size();
            SKYREC_CHECK(builder.append(message, tables, section4, length, tag));
            return builder.size() - before;
        },
        block.rows);
    block.columns = builder.take(/*narrowed=*/true);
    return block;
}

// A positive int of bytes.
bool memory_limit_arg(PyObject* obj, std::uint64_t* out) {
    const unsigned long long bytes = PyLong_Check(obj) ? PyLong_AsUnsignedLongLong(obj) : 0;
    if (!PyLong_Check(obj) || PyErr_Occurred() || bytes == 0) {
        PyErr_Clear();
        PyErr_Format(PyExc_ValueError, "memory_limit must be a positive int of bytes, not %R", obj);
        return false;
    }
    *out = bytes;
    return true;
}

PyObject* block_dict(Block& block) {
    BlockColumns& c = block.columns;
    const std::size_t n = c.size();
    Ref dict = Ref::steal(PyDict_New());
    if (!dict) return nullptr;
    PyObject* d = dict.get();
    const bool ok = (!c.has(BlockArray::file) ||
                     set_codes(d, "file", c.file, n, c.code_width(static_cast<std::size_t>(c.files)))) &&
                    (!c.has(BlockArray::message) || set_column(d, "message", c.message, n)) &&
                    (!c.has(BlockArray::offset) || set_column(d, "offset", c.offset, n)) && set_value_columns(d, c) &&
                    set_item(d, "rows", bytearray_of(block.rows)) &&
                    set_item(d, "errors", list_of(block.errors, failure_tuple));
    return ok ? dict.release() : nullptr;
}

PyObject* decode_block(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"pieces", "columns", "memory_limit", "threads", nullptr};
    PyObject* pieces_obj;
    PyObject* columns_obj = Py_None;
    PyObject* limit_obj = Py_None;
    PyObject* threads_obj = nullptr;
    unsigned threads = 2;
    if (!parse_args(args, kwargs, "O|OO$O:decode_block", names, &pieces_obj, &columns_obj, &limit_obj, &threads_obj) ||
        !threads_arg(threads_obj, &threads)) {
        return nullptr;
    }
    const auto arrays = arrays_arg(columns_obj);
    if (!arrays) return nullptr;
    std::uint64_t memory_limit = kDefaultBlockMemory;
    if (limit_obj != Py_None && !memory_limit_arg(limit_obj, &memory_limit)) return nullptr;
    // The tables must live while the lock is released, whatever happens
    // to the sequences meanwhile.
    auto pieces = pieces_arg(pieces_obj);
    if (!pieces) return nullptr;
    auto block = unlocked([&] { return decode_all(pieces->pieces, *arrays, memory_limit, threads); });
    if (!block) return nullptr;
    return block_dict(*block);
}

}  // namespace

PyMethodDef decode_block_def = {"decode_block", kw_method(guard<decode_block>), METH_VARARGS | METH_KEYWORDS,
                                "decode_block(pieces, columns=None, memory_limit=None, *, threads=2)\n--\n\n"};

}  // namespace skyrec::py
