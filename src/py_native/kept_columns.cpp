// keep_columns(data, start, message, tables, threads=1): a compressed message
// walked once, its columns kept (KeptColumns) so that each of its outputs is
// laid out from them when first asked for, never by walking the message
// again, its numbers unpacked with up to `threads` threads (its `threads`):
//   long(columns=None)  the long value columns, as decode_columns names them
//                       (the arrays named, all but the block's tags for None)
//   wide(numbers=True)  the wide table: "subsets", "columns"; "values", an
//                       OwnedBuffer of subsets x columns float64 items, column
//                       after column (NumPy's Fortran order), when asked for;
//                       per column "descriptor", "rank" and "scale"
//                       (bytearrays of uint32, uint32 and int32 items),
//                       "names", "units" and "keys" (lists of str); "texts"
//                       holds (column, list of str or None) for each
//                       character column
//   details()           "raw", the raw integers laid out as "values";
//                       "meanings", (column, bytearray of int32 codes per
//                       subset, -1 for none) for each code or flag table
//                       column; "meaning_texts", the distinct texts they index
// decode_wide(data, start, message, tables, threads=1): any message's wide table, its
// wide() and details() in one dict (an uncompressed message's "scale" empty),
// decoded at once; ValueError when the subsets of an uncompressed message
// differ. The kept columns hold the message's bytes (the caller's bytes object, or a copy
// of a buffer that may change) and its TableSet.
#include <string>
#include <utility>

#include "decode/decode_section4.hpp"
#include "py_common/args.hpp"
#include "py_common/boxed.hpp"
#include "py_common/errors.hpp"
#include "py_common/module_common.hpp"
#include "py_common/pyref.hpp"
#include "py_common/unlocked.hpp"
#include "py_native/decode_error.hpp"
#include "py_native/functions.hpp"
#include "py_native/message_arg.hpp"
#include "py_native/owned_buffer.hpp"
#include "py_native/result_dict.hpp"
#include "py_native/value_columns.hpp"
#include "sinks/block_columns.hpp"
#include "sinks/wide_columns.hpp"

namespace skyrec::py {
namespace {

struct KeptColumns {
    Ref data;                             // a bytes object holding the message
    Ref tables;                           // the TableSet object the columns point into
    const TableSet* table_set = nullptr;  // its tables
    std::size_t message_bytes = 0;
    unsigned threads = 1;       // that unpack its numbers, given when kept
    CompressedSection section;  // views data's bytes
};

PyTypeObject* kept_columns_type = nullptr;

PyObject* pointed(const std::string* text) { return lossy_str(*text); }

PyObject* texts_list(const WideColumns::Texts& t) {
    Ref texts = Ref::steal(PyList_New(static_cast<Py_ssize_t>(t.texts.size())));
    if (!texts) return nullptr;
    for (std::size_t j = 0; j < t.texts.size(); ++j) {
        PyObject* item = t.present[j] != 0 ? lossy_str(t.texts[j]) : Py_NewRef(Py_None);
        if (item == nullptr) return nullptr;
        PyList_SET_ITEM(texts.get(), static_cast<Py_ssize_t>(j), item);
    }
    return Py_BuildValue("(nN)", static_cast<Py_ssize_t>(t.column), texts.release());
}

PyObject* meanings_codes(const WideColumns::Meanings& m) {
    Ref codes = Ref::steal(bytearray_of(m.codes));
    if (!codes) return nullptr;
    return Py_BuildValue("(nN)", static_cast<Py_ssize_t>(m.column), codes.release());
}

template <class T>
PyObject* table_buffer(GrowingArray<T>& array, const WideColumns& w) {
    return owned_buffer(array.release(), w.subsets * w.columns, item_format<T>(), sizeof(T));
}

PyObject* wide_table(WideColumns& w, bool numbers) {
    Ref dict = Ref::steal(PyDict_New());
    if (!dict) return nullptr;
    PyObject* d = dict.get();
    const bool ok = set_item(d, "subsets", PyLong_FromSize_t(w.subsets)) &&
                    set_item(d, "columns", PyLong_FromSize_t(w.columns)) &&
                    (!numbers || set_item(d, "values", table_buffer(w.values, w))) &&
                    set_item(d, "descriptor", bytearray_of(w.descriptor)) &&
                    set_item(d, "rank", bytearray_of(w.rank)) && set_item(d, "scale", bytearray_of(w.scale)) &&
                    set_item(d, "names", list_of(w.name, pointed)) && set_item(d, "units", list_of(w.unit, pointed)) &&
                    set_item(d, "keys", list_of(w.key, pointed)) && set_item(d, "texts", list_of(w.texts, texts_list));
    return ok ? dict.release() : nullptr;
}

PyObject* wide_details(WideColumns& w) {
    Ref dict = Ref::steal(PyDict_New());
    if (!dict) return nullptr;
    PyObject* d = dict.get();
    const bool ok = set_item(d, "raw", table_buffer(w.raw, w)) &&
                    set_item(d, "meanings", list_of(w.meanings, meanings_codes)) &&
                    set_item(d, "meaning_texts", list_of(w.meaning_texts, pointed));
    return ok ? dict.release() : nullptr;
}

// The `parts` of the kept columns' wide table, as dict() gives them.
template <class Dict>
PyObject* kept_parts(PyObject* self, WideParts parts, Dict&& dict) {
    const KeptColumns& kept = unbox<KeptColumns>(self);
    WideBuilder builder(*kept.table_set, parts, kept.threads);
    if (!unlocked([&] { return builder.take_columns(kept.section); }, raise_decode_error)) return nullptr;
    WideColumns wide = builder.take();
    return dict(wide);
}

PyObject* kept_wide(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"numbers", nullptr};
    int numbers = 1;
    if (!parse_args(args, kwargs, "|p:wide", names, &numbers)) return nullptr;
    return kept_parts(self, WideParts{true, numbers != 0, false},
                      [numbers](WideColumns& wide) { return wide_table(wide, numbers != 0); });
}

PyObject* kept_details(PyObject* self, PyObject*) {
    return kept_parts(self, WideParts{false, false, true}, wide_details);
}

PyObject* kept_long(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"columns", nullptr};
    PyObject* columns_obj = Py_None;
    if (!parse_args(args, kwargs, "|O:long", names, &columns_obj)) return nullptr;
    const auto arrays = arrays_arg(columns_obj);
    if (!arrays) return nullptr;
    const KeptColumns& kept = unbox<KeptColumns>(self);
    BlockBuilder builder(arrays->without(BlockArray::file).without(BlockArray::message).without(BlockArray::offset));
    if (!unlocked(
            [&] { return builder.append_columns(kept.section, *kept.table_set, kept.message_bytes, MessageTag{}); },
            raise_decode_error)) {
        return nullptr;
    }
    BlockColumns columns = builder.take();
    Ref dict = Ref::steal(PyDict_New());
    if (!dict || !set_value_columns(dict.get(), columns)) return nullptr;
    return dict.release();
}

PyObject* kept_subsets(PyObject* self, void*) { return PyLong_FromSize_t(unbox<KeptColumns>(self).section.subsets); }
PyObject* kept_width(PyObject* self, void*) {
    return PyLong_FromSize_t(unbox<KeptColumns>(self).section.columns.size());
}
PyObject* kept_threads(PyObject* self, void*) { return PyLong_FromUnsignedLong(unbox<KeptColumns>(self).threads); }

constexpr int kMethod = METH_VARARGS | METH_KEYWORDS;

PyMethodDef kept_methods[] = {
    {"long", kw_method(guard<kept_long>), kMethod, "long($self, columns=None)\n--\n\n"},
    {"wide", kw_method(guard<kept_wide>), kMethod, "wide($self, numbers=True)\n--\n\n"},
    {"details", guard<kept_details>, METH_NOARGS, "details($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef kept_getset[] = {
    {"subsets", kept_subsets, nullptr, nullptr, nullptr},
    {"columns", kept_width, nullptr, nullptr, nullptr},
    {"threads", kept_threads, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyObject* keep_columns(PyObject*, PyObject* args, PyObject* kwargs) {
    unsigned threads = 1;
    auto in = message_args(args, kwargs, "OOOO|$O:keep_columns", &threads);
    if (!in) return nullptr;
    if (!in->message->compressed_data) {
        PyErr_SetString(PyExc_ValueError, "keep_columns reads compressed messages only");
        return nullptr;
    }
    KeptColumns kept;
    kept.threads = threads;
    kept.tables = Ref::borrow(in->tables_obj);
    kept.table_set = in->tables;
    kept.message_bytes = in->bytes.size;
    // A bytes object cannot change under the kept columns; any other buffer can.
    PyObject* data = in->data_obj;
    ByteView bytes = in->bytes;
    if (PyBytes_CheckExact(data)) {
        kept.data = Ref::borrow(data);
    } else {
        kept.data = Ref::steal(
            PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes.data), static_cast<Py_ssize_t>(bytes.size)));
        if (!kept.data) return nullptr;
        bytes = {reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(kept.data.get())), bytes.size};
    }
    const BufrMessage& message = *in->message;
    const TableSet& tables = *in->tables;
    auto walked =
        unlocked([&] { return walk_columns(message, tables, message.section4_data(bytes)); }, raise_decode_error);
    if (!walked) return nullptr;
    kept.section = std::move(*walked);
    return box(kept_columns_type, std::move(kept));
}

PyObject* decode_wide(PyObject*, PyObject* args, PyObject* kwargs) {
    unsigned threads = 1;
    auto in = message_args(args, kwargs, "OOOO|$O:decode_wide", &threads);
    if (!in) return nullptr;
    auto wide = unlocked([&] { return skyrec::decode_wide(*in->message, *in->tables, in->section4_data(), threads); },
                         raise_decode_error);
    if (!wide) return nullptr;
    if (wide->subsets_differ) {
        PyErr_SetString(PyExc_ValueError, "the subsets hold different descriptors: the message has no wide table");
        return nullptr;
    }
    Ref table = Ref::steal(wide_table(*wide, true));
    Ref details = Ref::steal(table ? wide_details(*wide) : nullptr);
    if (!details || PyDict_Update(table.get(), details.get()) != 0) return nullptr;
    return table.release();
}

}  // namespace

bool create_kept_columns_type(PyObject* module) {
    PyObject* type = boxed_type<KeptColumns>(module, "skyrec._native.KeptColumns",
                                             {{Py_tp_methods, kept_methods}, {Py_tp_getset, kept_getset}});
    return add_class(module, type, "KeptColumns", &kept_columns_type);
}

PyMethodDef keep_columns_def = {"keep_columns", kw_method(guard<keep_columns>), METH_VARARGS | METH_KEYWORDS,
                                "keep_columns(data, start, message, tables, *, threads=1)\n--\n\n"};
PyMethodDef decode_wide_def = {"decode_wide", kw_method(guard<decode_wide>), METH_VARARGS | METH_KEYWORDS,
                               "decode_wide(data, start, message, tables, *, threads=1)\n--\n\n"};

}  // namespace skyrec::py
