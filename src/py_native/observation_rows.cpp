// observation_rows(pieces, keys, conditions=()): the rows per observation of
// the messages of `pieces` (see message_pieces.hpp), for `keys`, a
// sequence of (key, rank) pairs (rank 0 for every occurrence), keeping only
// the rows that pass every condition, a pair (key index, ranges): the key
// found and, unless `ranges` is empty, a text or a value in one of its
// (low, high) ranges. Framing, decoding and laying out
// the rows run while other threads run; only the asked keys' values are
// kept. The result: "count" rows, their "file" codes, "message" numbers and
// 0-based "subset"s, one (values, found, texts) triple per key in "columns"
// (texts codes into "texts", None when the key gave no text), "errors"
// as decode_block lists them, and the TableSets of the messages in "tables".
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "py_common/args.hpp"
#include "py_common/boxed.hpp"
#include "py_common/errors.hpp"
#include "py_common/pyref.hpp"
#include "py_common/unlocked.hpp"
#include "py_native/buffer_arg.hpp"
#include "py_native/functions.hpp"
#include "py_native/message_pieces.hpp"
#include "py_native/owned_buffer.hpp"
#include "py_native/result_dict.hpp"
#include "sinks/observation_rows.hpp"

namespace skyrec::py {
namespace {

std::optional<std::vector<ObservationKey>> keys_arg(PyObject* obj) {
    Ref seq = Ref::steal(PySequence_Fast(obj, "argument 'keys' must be a sequence of (key, rank) pairs"));
    if (!seq) return std::nullopt;
    std::vector<ObservationKey> keys;
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(seq.get()); ++i) {
        PyObject* item = PySequence_Fast_GET_ITEM(seq.get(), i);
        const char* key = nullptr;
        PyObject* rank_obj = nullptr;
        if (!PyArg_ParseTuple(item, "sO:observation_rows", &key, &rank_obj)) return std::nullopt;
        // Checked, not wrapped: rank 2^32 + 1 must not read as rank 1.
        const unsigned long long rank = PyLong_Check(rank_obj) ? PyLong_AsUnsignedLongLong(rank_obj) : 0;
        if (!PyLong_Check(rank_obj) || PyErr_Occurred() || rank > UINT32_MAX) {
            PyErr_Clear();
            PyErr_Format(PyExc_ValueError, "the rank of key '%s' must be an int from 0 to %u", key, UINT32_MAX);
            return std::nullopt;
        }
        keys.push_back({key, static_cast<std::uint32_t>(rank)});
    }
    return keys;
}

std::optional<std::vector<ObservationCondition>> conditions_arg(PyObject* obj, std::size_t keys) {
    std::vector<ObservationCondition> conditions;
    if (obj == nullptr) return conditions;
    Ref seq = Ref::steal(PySequence_Fast(obj, "argument 'conditions' must be a sequence of (key index, ranges)"));
    if (!seq) return std::nullopt;
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(seq.get()); ++i) {
        unsigned int column = 0;
        PyObject* ranges_obj = nullptr;
        if (!PyArg_ParseTuple(PySequence_Fast_GET_ITEM(seq.get(), i), "IO:observation_rows", &column, &ranges_obj)) {
            return std::nullopt;
        }
        if (column >= keys) {
            PyErr_SetString(PyExc_ValueError, "a condition names a key index out of range");
            return std::nullopt;
        }
        Ref ranges = Ref::steal(PySequence_Fast(ranges_obj, "a condition's ranges must be a sequence"));
        if (!ranges) return std::nullopt;
        ObservationCondition condition{column, {}};
        for (Py_ssize_t r = 0; r < PySequence_Fast_GET_SIZE(ranges.get()); ++r) {
            double low = 0.0;
            double high = 0.0;
            if (!PyArg_ParseTuple(PySequence_Fast_GET_ITEM(ranges.get(), r), "dd:observation_rows", &low, &high)) {
                return std::nullopt;
            }
            condition.ranges.emplace_back(low, high);
        }
        conditions.push_back(std::move(condition));
    }
    return conditions;
}

template <class T>
PyObject* buffer_of(GrowingArray<T>& array, std::size_t count, char format) {
    return owned_buffer(array.release(), count, format, sizeof(T));
}

PyObject* column_tuple(ObservationColumn& c, std::size_t count) {
    Ref value = Ref::steal(buffer_of(c.value, count, item_format<double>()));
    Ref found = Ref::steal(buffer_of(c.found, count, item_format<bool>()));
    Ref text = c.has_text ? Ref::steal(buffer_of(c.text, count, item_format<std::int32_t>())) : Ref::borrow(Py_None);
    if (!value || !found || !text) return nullptr;
    return PyTuple_Pack(3, value.get(), found.get(), text.get());
}

PyObject* rows_dict(ObservationRows& rows, const std::vector<MessageFailure>& errors, const std::vector<Ref>& tables) {
    const std::size_t n = rows.count;
    Ref dict = Ref::steal(PyDict_New());
    if (!dict) return nullptr;
    PyObject* d = dict.get();
    Ref columns = Ref::steal(PyList_New(0));
    if (!columns) return nullptr;
    for (ObservationColumn& c : rows.columns) {
        Ref column = Ref::steal(column_tuple(c, n));
        if (!column || PyList_Append(columns.get(), column.get()) != 0) return nullptr;
    }
    const bool ok = set_item(d, "count", PyLong_FromSize_t(n)) &&
                    set_item(d, "file", buffer_of(rows.file, n, item_format<std::int32_t>())) &&
                    set_item(d, "message", buffer_of(rows.message, n, item_format<std::int64_t>())) &&
                    set_item(d, "subset", buffer_of(rows.subset, n, item_format<std::uint32_t>())) &&
                    set_item(d, "columns", columns.release()) &&
                    set_item(d, "texts", list_of(rows.texts, [](const std::string& t) { return lossy_str(t); })) &&
                    set_item(d, "errors", list_of(errors, failure_tuple)) &&
                    set_item(d, "tables", list_of(tables, [](const Ref& t) { return Ref::borrow(t.get()).release(); }));
    return ok ? dict.release() : nullptr;
}

PyObject* observation_rows(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"pieces", "keys", "conditions", nullptr};
    PyObject* pieces_obj;
    PyObject* keys_obj;
    PyObject* conditions_obj = nullptr;
    if (!parse_args(args, kwargs, "OO|O:observation_rows", names, &pieces_obj, &keys_obj, &conditions_obj)) {
        return nullptr;
    }
    auto keys = keys_arg(keys_obj);
    if (!keys) return nullptr;
    auto conditions = conditions_arg(conditions_obj, keys->size());
    if (!conditions) return nullptr;
    auto pieces = pieces_arg(pieces_obj);
    if (!pieces) return nullptr;
    auto picked = unlocked([&] {
        ObservationPicker picker(*keys, std::move(*conditions));
        std::vector<std::uint64_t> counts;
        std::vector<MessageFailure> errors = run_messages(
            pieces->pieces,
            [&](const BufrMessage& message, const TableSet& tables, ByteView section4, std::size_t,
                const MessageTag& tag) -> Result<std::size_t> {
                const std::size_t before = picker.size();
                SKYREC_CHECK(picker.append(message, tables, section4, tag));
                return picker.size() - before;
            },
            counts);
        return std::pair(picker.take(), std::move(errors));
    });
    if (!picked) return nullptr;
    return rows_dict(picked->first, picked->second, pieces->tables);
}

}  // namespace

PyMethodDef observation_rows_def = {"observation_rows", kw_method(guard<observation_rows>),
                                    METH_VARARGS | METH_KEYWORDS,
                                    "observation_rows(pieces, keys, conditions=())\n--\n\n"};

}  // namespace skyrec::py
