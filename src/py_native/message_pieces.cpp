#include "py_native/message_pieces.hpp"

#include <map>
#include <utility>

#include "py_common/args.hpp"
#include "py_common/boxed.hpp"
#include "py_common/errors.hpp"
#include "py_common/module_types.hpp"
#include "py_native/decode_error.hpp"

namespace skyrec::py {
namespace {

constexpr const char* kPieceShape = "each piece must be a tuple (framing, file, rows, messages, tables, base)";
constexpr const char* kTablesShape =
    "a piece's tables must be a TableSet, a sequence of one per row or a callable returning one";
constexpr const char* kFramingName = "skyrec.framing";

void free_framing(PyObject* capsule) { delete static_cast<Framing*>(PyCapsule_GetPointer(capsule, kFramingName)); }

// What picks a message's tables, packed: 8 + 8 + 8 + 16 + 16 bits.
std::uint64_t table_key(const BufrMessage& m) {
    return std::uint64_t{m.master_table_number} << 48 | std::uint64_t{m.master_tables_version_number} << 40 |
           std::uint64_t{m.local_tables_version_number} << 32 | std::uint64_t{m.originating_centre} << 16 |
           m.originating_subcentre;
}

// The text attribute `name` of `obj`, "" when it has none. The name is
// interned: the interpreter's attribute cache keeps the name objects it sees,
// so a new str per call would fill it with copies.
std::string text_attr(PyObject* obj, const char* name) {
    Ref interned = Ref::steal(PyUnicode_InternFromString(name));
    if (!interned) {
        PyErr_Clear();
        return {};
    }
    Ref value = Ref::steal(PyObject_GetAttr(obj, interned.get()));
    if (!value || !PyUnicode_Check(value.get())) {
        PyErr_Clear();
        return {};
    }
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(value.get(), &size);
    if (text == nullptr) {
        PyErr_Clear();
        return {};
    }
    return {text, static_cast<std::size_t>(size)};
}

// Resolves tables once per key for the pieces of one call.
class Resolver {
public:
    explicit Resolver(PiecesArg& out) : out_(out) {}

    // The choice for `message` by `tables`; nullptr with an error set.
    const TableChoice* choose(PyObject* tables, const BufrMessage& message) {
        const bool fixed = PyObject_TypeCheck(tables, types.table_set);
        const auto key = std::make_pair(tables, fixed ? 0 : table_key(message));
        if (auto it = chosen_.find(key); it != chosen_.end()) return it->second;
        TableChoice& choice = out_.choices.emplace_back();
        if (fixed) {
            choice.tables = table_set_arg(tables, "tables");
            out_.tables.push_back(Ref::borrow(tables));
        } else if (!call(tables, message, choice)) {
            return nullptr;
        }
        chosen_.emplace(key, &choice);
        return &choice;
    }

private:
    // choice from tables(message): a TableSet, or a DecodeError's reason.
    bool call(PyObject* tables, const BufrMessage& message, TableChoice& choice) {
        Ref record = Ref::steal(new_bufr_message(BufrMessage(message)));
        if (!record) return false;
        Ref found = Ref::steal(PyObject_CallOneArg(tables, record.get()));
        if (found) {
            choice.tables = table_set_arg(found.get(), "tables");
            if (choice.tables == nullptr) return false;
            out_.tables.push_back(std::move(found));
            return true;
        }
        // A DecodeError says why this key has no tables; anything else is raised.
        if (!PyErr_ExceptionMatches(decode_error_class())) return false;
        PyObject *type, *value, *traceback;
        PyErr_Fetch(&type, &value, &traceback);
        PyErr_NormalizeException(&type, &value, &traceback);
        Ref error = Ref::steal(value);
        Py_XDECREF(type);
        Py_XDECREF(traceback);
        choice.kind = text_attr(error.get(), "kind");
        if (choice.kind.empty()) choice.kind = "tables";
        choice.reason = text_attr(error.get(), "reason");
        choice.where = text_attr(error.get(), "where");
        return true;
    }

    PiecesArg& out_;
    std::map<std::pair<PyObject*, std::uint64_t>, const TableChoice*> chosen_;
};

// The items of `obj`, a sequence of `count` items, each converted by
// `convert(item, &out)`; false with an error set.
template <class T, class Convert>
bool items_of(PyObject* obj, const char* name, std::size_t count, std::vector<T>& out, Convert&& convert) {
    Ref seq = Ref::steal(PySequence_Fast(obj, "a piece's rows, messages and tables must be sequences"));
    if (!seq) return false;
    if (static_cast<std::size_t>(PySequence_Fast_GET_SIZE(seq.get())) != count) {
        PyErr_Format(PyExc_ValueError, "a piece's %s and rows differ in length", name);
        return false;
    }
    out.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        if (!convert(PySequence_Fast_GET_ITEM(seq.get(), static_cast<Py_ssize_t>(i)), &out[i])) return false;
    }
    return true;
}

bool piece_arg(PyObject* obj, PiecesArg& out, Resolver& resolver) {
    if (!PyTuple_Check(obj) || PyTuple_GET_SIZE(obj) != 6) {
        PyErr_SetString(PyExc_TypeError, kPieceShape);
        return false;
    }
    PyObject* capsule = PyTuple_GET_ITEM(obj, 0);
    auto* framing = static_cast<Framing*>(
        PyCapsule_IsValid(capsule, kFramingName) ? PyCapsule_GetPointer(capsule, kFramingName) : nullptr);
    if (framing == nullptr || framing->headers.records.size() != framing->headers.size()) {
        PyErr_SetString(PyExc_TypeError, "a piece's framing must be message_headers(..., keep=True)['framing']");
        return false;
    }
    out.framings.push_back(Ref::borrow(capsule));
    std::uint64_t file = 0;
    std::uint64_t base = 0;
    if (!uint_arg(PyTuple_GET_ITEM(obj, 1), "file", INT32_MAX - 1, &file) ||
        !uint_arg(PyTuple_GET_ITEM(obj, 5), "base", PY_SSIZE_T_MAX, &base)) {
        return false;
    }
    FramedPiece piece{framing->data.bytes(),
                      &framing->headers,
                      static_cast<std::int32_t>(file),
                      static_cast<std::size_t>(base),
                      {},
                      {},
                      {}};
    Ref rows = Ref::steal(PySequence_Fast(PyTuple_GET_ITEM(obj, 2), "a piece's rows must be a sequence"));
    if (!rows) return false;
    const auto count = static_cast<std::size_t>(PySequence_Fast_GET_SIZE(rows.get()));
    const std::size_t framed = framing->headers.size();
    const bool ok =
        items_of(rows.get(), "rows", count, piece.rows,
                 [&](PyObject* item, std::size_t* row) {
                     std::uint64_t value = 0;
                     if (!uint_arg(item, "rows", PY_SSIZE_T_MAX, &value)) return false;
                     if (value >= framed || !framing->headers.framed[value]) {
                         PyErr_SetString(PyExc_ValueError, "a piece's rows must name framed messages of its framing");
                         return false;
                     }
                     *row = static_cast<std::size_t>(value);
                     return true;
                 }) &&
        items_of(PyTuple_GET_ITEM(obj, 3), "messages", count, piece.messages, [](PyObject* item, std::int64_t* number) {
            *number = PyLong_AsLongLong(item);
            return !(*number == -1 && PyErr_Occurred());
        });
    if (!ok) return false;
    PyObject* tables = PyTuple_GET_ITEM(obj, 4);
    if (PyObject_TypeCheck(tables, types.table_set) || PyCallable_Check(tables)) {
        for (const std::size_t row : piece.rows) {
            const TableChoice* choice = resolver.choose(tables, framing->headers.records[row]);
            if (choice == nullptr) return false;
            piece.tables.push_back(choice);
        }
    } else if (!items_of(tables, "tables", count, piece.tables, [&](PyObject* item, const TableChoice** choice) {
                   if (!PyObject_TypeCheck(item, types.table_set)) {
                       PyErr_SetString(PyExc_TypeError, kTablesShape);
                       return false;
                   }
                   *choice = resolver.choose(item, {});
                   return *choice != nullptr;
               })) {
        return false;
    }
    out.pieces.push_back(std::move(piece));
    return true;
}

}  // namespace

PyObject* framing_capsule(Framing&& framing) {
    auto* owned = new Framing(std::move(framing));
    PyObject* capsule = PyCapsule_New(owned, kFramingName, free_framing);
    if (capsule == nullptr) delete owned;
    return capsule;
}

std::optional<PiecesArg> pieces_arg(PyObject* obj) {
    Ref seq = Ref::steal(PySequence_Fast(obj, "argument 'pieces' must be a sequence"));
    if (!seq) return std::nullopt;
    PiecesArg out;
    Resolver resolver(out);
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(seq.get()); ++i) {
        if (!piece_arg(PySequence_Fast_GET_ITEM(seq.get(), i), out, resolver)) return std::nullopt;
    }
    return out;
}

PyObject* failure_tuple(const MessageFailure& f) {
    Ref reason = Ref::steal(lossy_str(f.reason));
    Ref where = Ref::steal(lossy_str(f.where));
    Ref kind = Ref::steal(PyUnicode_FromString(f.kind.c_str()));
    Ref subset = Ref::steal(subset_object(f.subset));
    Ref path = Ref::steal(path_tuple(f.path));
    if (!reason || !where || !kind || !subset || !path) return nullptr;
    return Py_BuildValue("(nnOOOOO)", static_cast<Py_ssize_t>(f.piece), static_cast<Py_ssize_t>(f.position),
                         reason.get(), where.get(), kind.get(), subset.get(), path.get());
}

}  // namespace skyrec::py
