// decode_wide(data, start, message, tables[, details]): a compressed message
// as a wide table. "values" is an OwnedBuffer of subsets x columns float64
// items, column after column (NumPy's Fortran order); with details, "raw"
// holds the raw integers laid out alike, "meanings" (column, bytearray of int32
// codes per subset, -1 for none) for each code or flag table column and
// "meaning_texts" the distinct texts they index. Per column: "descriptor", "rank" and "scale"
// (bytearrays of uint32, uint32 and int32 items), "names", "units" and "keys"
// (lists of str), "numeric" (bytearray of 0/1); "texts" holds (column, list of
// str or None) for each character column. set_wide_threads(n) and
// wide_threads(): the threads that unpack a large message's columns.
#include <string>

#include "decode/wide_values.hpp"
#include "py_common/args.hpp"
#include "py_common/boxed.hpp"
#include "py_common/errors.hpp"
#include "py_common/pyref.hpp"
#include "py_common/signal_watch.hpp"
#include "py_native/decode_error.hpp"
#include "py_native/functions.hpp"
#include "py_native/message_arg.hpp"
#include "py_native/owned_buffer.hpp"
#include "py_native/result_dict.hpp"
#include "sinks/wide_columns.hpp"

namespace skyrec::py {
namespace {

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

PyObject* wide_dict(WideColumns& w, bool with_details) {
    Ref dict = Ref::steal(PyDict_New());
    if (!dict) return nullptr;
    PyObject* d = dict.get();
    const std::size_t count = w.subsets * w.columns;
    const bool ok =
        set_item(d, "subsets", PyLong_FromSize_t(w.subsets)) && set_item(d, "columns", PyLong_FromSize_t(w.columns)) &&
        set_item(d, "values", owned_buffer(w.values.release(), count, item_format<double>(), sizeof(double))) &&
        (!with_details ||
         (set_item(d, "raw",
                   owned_buffer(w.raw.release(), count, item_format<std::uint64_t>(), sizeof(std::uint64_t))) &&
          set_item(d, "meanings", list_of(w.meanings, meanings_codes)) &&
          set_item(d, "meaning_texts", list_of(w.meaning_texts, pointed)))) &&
        set_item(d, "descriptor", bytearray_of(w.descriptor)) && set_item(d, "rank", bytearray_of(w.rank)) &&
        set_item(d, "scale", bytearray_of(w.scale)) && set_item(d, "numeric", bytearray_of(w.numeric)) &&
        set_item(d, "names", list_of(w.name, pointed)) && set_item(d, "units", list_of(w.unit, pointed)) &&
        set_item(d, "keys", list_of(w.key, pointed)) && set_item(d, "texts", list_of(w.texts, texts_list));
    return ok ? dict.release() : nullptr;
}

PyObject* decode_wide(PyObject*, PyObject* args, PyObject* kwargs) {
    // The optional fifth argument is taken apart from the four that
    // message_args knows.
    PyObject* details_obj = nullptr;
    Ref four;
    if (args != nullptr && PyTuple_GET_SIZE(args) == 5) {
        details_obj = PyTuple_GET_ITEM(args, 4);
        four = Ref::steal(PyTuple_GetSlice(args, 0, 4));
        if (!four) return nullptr;
        args = four.get();
    }
    auto in = message_args(args, kwargs, "OOOO:decode_wide");
    if (!in) return nullptr;
    const int with_details = details_obj == nullptr ? 0 : PyObject_IsTrue(details_obj);
    if (with_details < 0) return nullptr;
    if (!in->message->compressed_data) {
        PyErr_SetString(PyExc_ValueError, "decode_wide reads compressed messages only");
        return nullptr;
    }
    SignalWatch watch;
    Result<WideColumns> wide = [&] {
        WithoutGil unlocked;
        return skyrec::decode_wide(*in->message, *in->tables, in->section4_data(), with_details != 0);
    }();
    if (watch.raised()) return nullptr;
    if (!wide) return raise_decode_error(wide.error());
    return wide_dict(*wide, with_details != 0);
}

PyObject* set_threads(PyObject*, PyObject* arg) {
    constexpr unsigned long long kMost = 4096;
    if (!PyLong_Check(arg)) {
        PyErr_Format(PyExc_TypeError, "threads must be an int, not %.200s", Py_TYPE(arg)->tp_name);
        return nullptr;
    }
    int overflow = 0;
    const long long threads = PyLong_AsLongLongAndOverflow(arg, &overflow);
    if (threads == -1 && PyErr_Occurred()) return nullptr;
    if (overflow != 0 || threads < 1 || static_cast<unsigned long long>(threads) > kMost) {
        PyErr_Format(PyExc_ValueError, "threads must be from 1 to %llu, not %R", kMost, arg);
        return nullptr;
    }
    set_wide_threads(static_cast<unsigned>(threads));
    Py_RETURN_NONE;
}

PyObject* threads(PyObject*, PyObject*) { return PyLong_FromUnsignedLong(wide_threads()); }

}  // namespace

PyMethodDef decode_wide_def = {"decode_wide", kw_method(guard<decode_wide>), METH_VARARGS | METH_KEYWORDS,
                               "decode_wide(data, start, message, tables, details=False)\n--\n\n"};
PyMethodDef set_wide_threads_def = {"set_wide_threads", set_threads, METH_O, "set_wide_threads(threads, /)\n--\n\n"};
PyMethodDef wide_threads_def = {"wide_threads", threads, METH_NOARGS, "wide_threads()\n--\n\n"};

}  // namespace skyrec::py
