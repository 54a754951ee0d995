#include "binding/errors.hpp"

#include <string>

#include "binding/pyref.hpp"

namespace skyrec::py {
namespace {

PyObject* raise_text(PyObject* type, const std::string& text) {
    Ref message = Ref::steal(lossy_str(text));
    if (message) PyErr_SetObject(type, message.get());
    return nullptr;
}

}  // namespace

const char* kind_name(BufrError::Kind kind) noexcept {
    using Kind = BufrError::Kind;
    switch (kind) {
        case Kind::TooShort:
            return "too_short";
        case Kind::MissingMarker:
            return "missing_marker";
        case Kind::UnsupportedEdition:
            return "unsupported_edition";
        case Kind::LengthMismatch:
            return "length_mismatch";
        case Kind::TruncatedSection:
            return "truncated_section";
        case Kind::BadTerminator:
            return "bad_terminator";
        case Kind::OddDescriptorArea:
            return "odd_descriptor_area";
        case Kind::SequenceNotFound:
            return "sequence_not_found";
        case Kind::IncompleteDelayedReplication:
            return "incomplete_delayed_replication";
        case Kind::UnsupportedReplication:
            return "unsupported_replication";
        case Kind::ElementNotFound:
            return "element_not_found";
        case Kind::CutShort:
            return "cut_short";
        case Kind::BitsExhausted:
            return "bits_exhausted";
        case Kind::LimitExceeded:
            return "limit_exceeded";
        case Kind::InvalidDescriptor:
            return "invalid_descriptor";
        case Kind::TableSyntax:
            return "table_syntax";
        case Kind::Unsupported:
            return "unsupported";
        case Kind::Text:
            return "text";
        case Kind::Io:
            return "io";
    }
    return "text";
}

PyObject* raise(const BufrError& error, PyObject* decode_error) {
    PyObject* type = decode_error != nullptr ? decode_error : PyExc_ValueError;
    const std::string reason_text = error.reason();
    const std::string where_text = error.where();
    std::string shown = error.message();
    if (decode_error != nullptr) shown = where_text.empty() ? reason_text : where_text + ": " + reason_text;
    Ref text = Ref::steal(lossy_str(shown));
    if (!text) return nullptr;
    Ref exception = Ref::steal(PyObject_CallOneArg(type, text.get()));
    Ref kind = Ref::steal(PyUnicode_FromString(kind_name(error.kind())));
    if (!exception || !kind || PyObject_SetAttrString(exception.get(), "kind", kind.get()) != 0) return nullptr;
    if (decode_error != nullptr) {
        Ref reason = Ref::steal(lossy_str(reason_text));
        Ref where = Ref::steal(lossy_str(where_text));
        if (!reason || !where || PyObject_SetAttrString(exception.get(), "reason", reason.get()) != 0 ||
            PyObject_SetAttrString(exception.get(), "where", where.get()) != 0) {
            return nullptr;
        }
    }
    PyErr_SetObject(type, exception.get());
    return nullptr;
}

PyObject* raise_os_error(const BufrError& error) {
    // One argument only, so OSError stays OSError (no errno, no subclass).
    return raise_text(PyExc_OSError, error.detail());
}

}  // namespace skyrec::py
