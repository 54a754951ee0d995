// dump_records(data, start, message, tables, format, prefix, csv_quoted,
// subsets, keys, fd, progress): the
// message's values as the bytes of the records that `skyrec dump` prints in
// `format` ("text", "jsonl" or "csv"), formatted with the interpreter lock
// released. `prefix` (bytes) starts every jsonl or csv record; csv_quoted
// (bytes) holds the ASCII characters that make a csv field quoted; subsets
// ((low, high) pairs) and keys ("key" or "#rank#key"), when not empty,
// choose the values printed. With fd None the records come back as bytes;
// else they are written to that file descriptor as they are made, and a
// write that fails raises OSError; progress (None or a callable) is then
// called with the share of the message done after each part written.
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "decode/walker.hpp"
#include "dump/value_records.hpp"
#include "py_common/args.hpp"
#include "py_common/errors.hpp"
#include "py_common/pyref.hpp"
#include "py_common/unlocked.hpp"
#include "py_native/decode_error.hpp"
#include "py_native/functions.hpp"
#include "py_native/message_arg.hpp"

namespace skyrec::py {
namespace {

constexpr std::size_t kKeptBytes = std::size_t{256} << 20;  // a larger buffer is freed after its call

std::optional<RecordFormat> format_arg(PyObject* obj) {
    const auto text = str_arg(obj, "format");
    if (!text) return std::nullopt;
    if (*text == "text") return RecordFormat::Text;
    if (*text == "jsonl") return RecordFormat::Jsonl;
    if (*text == "csv") return RecordFormat::Csv;
    PyErr_SetString(PyExc_ValueError, "format must be text, jsonl or csv");
    return std::nullopt;
}

// (low, high) pairs of subset numbers, high None for no end.
bool subsets_arg(PyObject* obj, RecordOptions& options) {
    Ref items = Ref::steal(PySequence_Fast(obj, "subsets must be a sequence of (low, high) pairs"));
    if (!items) return false;
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(items.get()); ++i) {
        PyObject* pair = PySequence_Fast_GET_ITEM(items.get(), i);
        std::uint64_t low = 0, high = UINT64_MAX;
        if (!PyTuple_Check(pair) || PyTuple_GET_SIZE(pair) != 2) {
            PyErr_SetString(PyExc_TypeError, "subsets must be a sequence of (low, high) pairs");
            return false;
        }
        PyObject* high_obj = PyTuple_GET_ITEM(pair, 1);
        if (!uint_arg(PyTuple_GET_ITEM(pair, 0), "subsets", UINT64_MAX, &low) ||
            (high_obj != Py_None && !uint_arg(high_obj, "subsets", UINT64_MAX, &high))) {
            return false;
        }
        options.subsets.emplace_back(low, high);
    }
    return true;
}

// 0, or the errno of a write that failed.
int write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

// progress(done) called from a thread without the interpreter lock; false
// with the error it raised set.
bool report_progress(PyObject* progress, double done) {
    const PyGILState_STATE state = PyGILState_Ensure();
    bool ok = false;
    {
        // Let go of the answer while the lock is still held.
        Ref answer = Ref::steal(PyObject_CallFunction(progress, "d", done));
        ok = static_cast<bool>(answer);
    }
    PyGILState_Release(state);
    return ok;
}

// Keys written key or #rank#key.
bool keys_arg(PyObject* obj, RecordOptions& options) {
    Ref items = Ref::steal(PySequence_Fast(obj, "keys must be a sequence of str"));
    if (!items) return false;
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(items.get()); ++i) {
        auto text = str_arg(PySequence_Fast_GET_ITEM(items.get(), i), "keys");
        if (!text) return false;
        std::string_view key = *text;
        std::uint32_t rank = 0;
        if (key.starts_with('#')) {
            const auto end = std::from_chars(key.data() + 1, key.data() + key.size(), rank);
            if (end.ec != std::errc{} || end.ptr == key.data() + key.size() || *end.ptr != '#' || rank == 0) {
                PyErr_Format(PyExc_ValueError, "%s is not a key", text->c_str());
                return false;
            }
            key.remove_prefix(static_cast<std::size_t>(end.ptr + 1 - key.data()));
        }
        options.keys.emplace_back(std::string(key), rank);
    }
    return true;
}

PyObject* dump_records(PyObject*, PyObject* args, PyObject*) {
    if (!PyTuple_Check(args) || PyTuple_GET_SIZE(args) != 11) {
        PyErr_SetString(PyExc_TypeError, "dump_records takes 11 positional arguments");
        return nullptr;
    }
    Ref message_part = Ref::steal(PyTuple_GetSlice(args, 0, 4));
    if (!message_part) return nullptr;
    auto in = message_args(message_part.get(), nullptr, "OOOO:dump_records");
    if (!in) return nullptr;
    RecordOptions options;
    const auto format = format_arg(PyTuple_GET_ITEM(args, 4));
    if (!format) return nullptr;
    options.format = *format;
    const auto prefix = bytes_arg(PyTuple_GET_ITEM(args, 5), "prefix");
    const auto quoted = bytes_arg(PyTuple_GET_ITEM(args, 6), "csv_quoted");
    if (!prefix || !quoted) return nullptr;
    options.prefix.assign(reinterpret_cast<const char*>(prefix->data), prefix->size);
    for (std::size_t i = 0; i < quoted->size; ++i)
        if (quoted->data[i] < 128) options.csv_quoted[quoted->data[i]] = true;
    if (!subsets_arg(PyTuple_GET_ITEM(args, 7), options) || !keys_arg(PyTuple_GET_ITEM(args, 8), options)) {
        return nullptr;
    }
    std::uint64_t fd = 0;
    PyObject* fd_obj = PyTuple_GET_ITEM(args, 9);
    if (fd_obj != Py_None && !uint_arg(fd_obj, "fd", INT_MAX, &fd)) return nullptr;
    PyObject* progress = PyTuple_GET_ITEM(args, 10);
    int write_errno = 0;
    bool progress_failed = false;
    if (fd_obj != Py_None) {
        options.flush = [&](std::string_view records, double done) {
            write_errno = write_all(static_cast<int>(fd), records);
            if (write_errno == 0 && progress != Py_None) progress_failed = !report_progress(progress, done);
            return write_errno == 0 && !progress_failed;
        };
    }

    // One buffer for every call of the thread: a message's records are tens
    // of megabytes, whose fresh pages would cost more than writing them.
    thread_local std::string out;
    out.clear();
    auto written = unlocked([&] {
        Status done = write_value_records(*in->message, *in->tables, in->section4_data(), options, out);
        if (done && options.flush && !options.flush(out, 1.0)) return Status(stopped_by_sink());
        return done;
    });
    if (!written || progress_failed) return nullptr;
    if (write_errno != 0) {
        errno = write_errno;
        return PyErr_SetFromErrno(PyExc_OSError);
    }
    if (!*written) return raise_decode_error(written->error());
    if (options.flush) {
        out.clear();
        Py_RETURN_NONE;
    }
    PyObject* records = PyBytes_FromStringAndSize(out.data(), static_cast<Py_ssize_t>(out.size()));
    if (out.capacity() > kKeptBytes) std::string().swap(out);
    return records;
}

}  // namespace

PyMethodDef dump_records_def = {
    "dump_records", kw_method(guard<dump_records>), METH_VARARGS | METH_KEYWORDS,
    "dump_records(data, start, message, tables, format, prefix, csv_quoted, subsets, keys, fd, progress)\n--\n\n"};

}  // namespace skyrec::py
