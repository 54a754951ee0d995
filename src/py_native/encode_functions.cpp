// Writing messages: reencode (a decoded message again, with changes),
// encode_values (subsets of Python values) and encode_array (a float64 array).
// Arguments become the encoder's input under the interpreter lock; the core
// writes without it.
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "encode/message_slots.hpp"
#include "encode/transcode.hpp"
#include "py_common/args.hpp"
#include "py_common/errors.hpp"
#include "py_common/module_types.hpp"
#include "py_common/pyref.hpp"
#include "py_common/unlocked.hpp"
#include "py_native/buffer_arg.hpp"
#include "py_native/encode_args.hpp"
#include "py_native/functions.hpp"
#include "py_native/message_arg.hpp"

namespace skyrec::py {
namespace {

PyObject* raise_encode_error(const BufrError& error) {
    std::string text = error.reason();
    if (const std::string where = error.where(); !where.empty()) text += " (at " + where + ")";
    PyErr_SetString(PyExc_ValueError, text.c_str());
    return nullptr;
}

// The bytes that `write` makes without the interpreter lock, or its refusal.
template <class Write>
PyObject* written(Write&& write) {
    auto out = unlocked(write, raise_encode_error);
    if (!out) return nullptr;
    return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(out->data()), static_cast<Py_ssize_t>(out->size()));
}

PyObject* encoded(const SlotSource& slots, const MessageHeader& header, std::span<const DescriptorCode> descriptors,
                  const TableSet& tables, bool out_of_range_missing) {
    return written(
        [&] { return encode_message(header, descriptors, tables, slots, EncodeOptions{out_of_range_missing}); });
}

// The changes as the transcoding walk takes them: in order of subset and
// position, the last of several for one value. Their texts stay in `held`.
bool change_list(PyObject* changes, FlatSlots& held, std::vector<ValueChange>& out) {
    if (changes == Py_None) return true;
    Ref items = Ref::steal(PySequence_Fast(changes, "changes must be a sequence"));
    if (!items) return false;
    held.start_subset();
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(items.get()); ++i) {
        Py_ssize_t subset, position;
        PyObject* value;
        if (!PyArg_ParseTuple(PySequence_Fast_GET_ITEM(items.get(), i), "nnO", &subset, &position, &value)) {
            return false;
        }
        if (subset < 0 || position < 0) {
            PyErr_Format(PyExc_IndexError, "no value %zd in subset %zd", position, subset);
            return false;
        }
        if (!add_slot(value, held)) return false;
        out.push_back({static_cast<std::size_t>(subset), static_cast<std::size_t>(position), {}});
    }
    // Slots are taken once all are held: the texts' buffer no longer moves.
    for (std::size_t k = 0; k < out.size(); ++k)
        out[k].slot = held.at(0, k);
    const auto before = [](const ValueChange& a, const ValueChange& b) {
        return a.subset != b.subset ? a.subset < b.subset : a.position < b.position;
    };
    std::stable_sort(out.begin(), out.end(), before);
    const auto same = [](const ValueChange& a, const ValueChange& b) {
        return a.subset == b.subset && a.position == b.position;
    };
    // Keep the last of equal ones: reversed, unique keeps the first.
    std::reverse(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end(), same), out.end());
    std::reverse(out.begin(), out.end());
    return true;
}

PyObject* reencode(PyObject*, PyObject* args, PyObject*) {
    PyObject *data, *start, *message, *tables, *header_fields, *section2, *changes;
    int out_of_range_missing = 0;
    if (!PyArg_ParseTuple(args, "OOOOOOOp:reencode", &data, &start, &message, &tables, &header_fields, &section2,
                          &changes, &out_of_range_missing)) {
        return nullptr;
    }
    Ref message_args_tuple = Ref::steal(PyTuple_Pack(4, data, start, message, tables));
    if (!message_args_tuple) return nullptr;
    auto in = message_args(message_args_tuple.get(), nullptr, "OOOO:reencode");
    if (!in) return nullptr;
    // Without a header of its own, the message's, in its own edition.
    MessageHeader header;
    if (header_fields != Py_None && !header_arg(header_fields, header)) return nullptr;
    header =
        header_of(*in->message, in->bytes, header_fields == Py_None ? in->message->edition : header.fields.edition);
    if (header_fields != Py_None && !header_arg(header_fields, header)) return nullptr;
    if (!section2_arg(section2, header)) return nullptr;
    FlatSlots held;
    std::vector<ValueChange> list;
    if (!change_list(changes, held, list)) return nullptr;
    const EncodeOptions options{out_of_range_missing != 0};
    // Uncompressed to uncompressed in one pass; compressing or expanding needs whole columns first.
    if (!in->message->compressed_data && !header.fields.compressed_data) {
        return written([&] { return transcode_message(header, *in->message, in->bytes, *in->tables, list, options); });
    }
    return written([&]() -> Result<std::vector<std::uint8_t>> {
        auto slots = slots_of(*in->message, in->bytes, *in->tables, list);
        if (!slots) return std::move(slots).error();
        return encode_message(header, in->message->unexpanded_descriptors, *in->tables, *slots, options);
    });
}

// What a message from scratch is written as: its descriptors, tables and header.
struct WrittenAs {
    std::vector<DescriptorCode> descriptors;
    const TableSet* tables;
    MessageHeader header;
};

std::optional<WrittenAs> written_as(PyObject* descriptors_obj, PyObject* tables_obj, PyObject* header_fields,
                                    PyObject* section2) {
    auto descriptors = descriptor_list_arg(descriptors_obj, "descriptors");
    if (!descriptors) return std::nullopt;
    WrittenAs to{std::move(*descriptors), table_set_arg(tables_obj, "tables"), {}};
    if (to.tables == nullptr || !header_arg(header_fields, to.header) || !section2_arg(section2, to.header)) {
        return std::nullopt;
    }
    return to;
}

PyObject* encode_values(PyObject*, PyObject* args, PyObject*) {
    PyObject *descriptors_obj, *subsets, *tables_obj, *header_fields, *section2;
    int out_of_range_missing = 0;
    if (!PyArg_ParseTuple(args, "OOOOOp:encode_values", &descriptors_obj, &subsets, &tables_obj, &header_fields,
                          &section2, &out_of_range_missing)) {
        return nullptr;
    }
    const auto to = written_as(descriptors_obj, tables_obj, header_fields, section2);
    if (!to) return nullptr;
    Ref rows = Ref::steal(PySequence_Fast(subsets, "subsets must be a sequence"));
    if (!rows) return nullptr;
    FlatSlots slots;
    for (Py_ssize_t j = 0; j < PySequence_Fast_GET_SIZE(rows.get()); ++j) {
        Ref row = Ref::steal(PySequence_Fast(PySequence_Fast_GET_ITEM(rows.get(), j), "a subset must be a sequence"));
        if (!row) return nullptr;
        slots.start_subset();
        for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(row.get()); ++i) {
            if (!add_slot(PySequence_Fast_GET_ITEM(row.get(), i), slots)) return nullptr;
        }
    }
    return encoded(slots, to->header, to->descriptors, *to->tables, out_of_range_missing != 0);
}

PyObject* encode_array(PyObject*, PyObject* args, PyObject*) {
    PyObject *descriptors_obj, *values, *texts, *tables_obj, *header_fields, *section2;
    int out_of_range_missing = 0;
    if (!PyArg_ParseTuple(args, "OOO!OOOp:encode_array", &descriptors_obj, &values, &PyDict_Type, &texts, &tables_obj,
                          &header_fields, &section2, &out_of_range_missing)) {
        return nullptr;
    }
    const auto to = written_as(descriptors_obj, tables_obj, header_fields, section2);
    if (!to) return nullptr;
    auto slots = ArraySlots::of(values, texts);
    if (!slots) return nullptr;
    return encoded(*slots, to->header, to->descriptors, *to->tables, out_of_range_missing != 0);
}

// A BufrMessage holding only section 1's fields: what picks the tables of a
// message still to be written.
PyObject* header_message(PyObject*, PyObject* args, PyObject*) {
    PyObject* fields;
    if (!PyArg_ParseTuple(args, "O:header_message", &fields)) return nullptr;
    MessageHeader header;
    if (!header_arg(fields, header)) return nullptr;
    return new_bufr_message(std::move(header.fields));
}

}  // namespace

PyMethodDef header_message_def = {"header_message", kw_method(guard<header_message>), METH_VARARGS | METH_KEYWORDS,
                                  "header_message(header)\n--\n\n"};
PyMethodDef reencode_def = {"reencode", kw_method(guard<reencode>), METH_VARARGS | METH_KEYWORDS,
                            "reencode(data, start, message, tables, header, section2, changes, out_of_range_missing)"
                            "\n--\n\n"};
PyMethodDef encode_values_def = {"encode_values", kw_method(guard<encode_values>), METH_VARARGS | METH_KEYWORDS,
                                 "encode_values(descriptors, subsets, tables, header, section2, "
                                 "out_of_range_missing)\n--\n\n"};
PyMethodDef encode_array_def = {"encode_array", kw_method(guard<encode_array>), METH_VARARGS | METH_KEYWORDS,
                                "encode_array(descriptors, values, texts, tables, header, section2, "
                                "out_of_range_missing)\n--\n\n"};

}  // namespace skyrec::py
