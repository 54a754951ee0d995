#include "base/error.hpp"

namespace skyrec {
namespace {

// The kinds that carry a free text of their own, split from one by cause.
bool is_free_text(BufrError::Kind kind) noexcept {
    using Kind = BufrError::Kind;
    switch (kind) {
        case Kind::BitsExhausted:
        case Kind::LimitExceeded:
        case Kind::InvalidDescriptor:
        case Kind::TableSyntax:
        case Kind::Unsupported:
        case Kind::Text:
            return true;
        default:
            return false;
    }
}

}  // namespace

std::string BufrError::message() const {
    using std::to_string;
    // Kept for compatibility: every free-text error, whatever raised it, carries this prefix.
    if (is_free_text(kind_)) return "csv/table parse error: " + text_;
    switch (kind_) {
        case Kind::TooShort:
            return "message is too short to be BUFR";
        case Kind::MissingMarker:
            return "missing BUFR marker";
        case Kind::UnsupportedEdition:
            return "unsupported BUFR edition " + to_string(a_) +
                   (b_ != 0 ? "; only editions 2, 3 and 4 are implemented" : "; only edition 4 is implemented");
        case Kind::LengthMismatch:
            return "declared length " + to_string(a_) + " does not match buffer length " + to_string(b_);
        case Kind::TruncatedSection:
            return "section " + to_string(b_) + " at offset " + to_string(a_) + " is truncated";
        case Kind::BadTerminator:
            return "section 5 terminator is not 7777";
        case Kind::OddDescriptorArea:
            return "section 3 descriptor area has odd byte count";
        case Kind::SequenceNotFound:
            return "descriptor " + descriptor_text(static_cast<DescriptorCode>(a_)) + " was not found in Table D";
        case Kind::IncompleteDelayedReplication:
            return "delayed replication descriptor " + descriptor_text(static_cast<DescriptorCode>(a_)) +
                   " is missing its replication factor or replicated descriptors";
        case Kind::UnsupportedReplication:
            return "unsupported replication descriptor " + descriptor_text(static_cast<DescriptorCode>(a_));
        case Kind::ElementNotFound:
            return "descriptor " + descriptor_text(static_cast<DescriptorCode>(a_)) + " was not found in Table B";
        case Kind::CutShort:
            // _skyrec's scans and the message cursor tell it apart; framing alone cannot.
            return "section 0 at offset 0 is truncated";
        case Kind::Io:
            return "io error: " + text_;
        default:  // the free-text kinds, above
            break;
    }
    return "unknown error";
}

std::string BufrError::reason() const {
    switch (kind_) {
        case Kind::CutShort:
            return "declared length " + std::to_string(a_) + ", only " + std::to_string(b_) + " bytes left";
        default:
            return is_free_text(kind_) ? text_ : message();
    }
}

const char* BufrError::kind_name() const noexcept {
    switch (kind_) {
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

std::string BufrError::where() const {
    std::string out = file_.empty() ? "" : "file " + file_;
    if (subset_) out += (out.empty() ? "subset " : ", subset ") + std::to_string(*subset_);
    for (auto it = path_.rbegin(); it != path_.rend(); ++it) {
        out += it == path_.rbegin() ? (out.empty() ? "" : ", ") : " > ";
        out += descriptor_text(*it);
    }
    return out;
}

}  // namespace skyrec
