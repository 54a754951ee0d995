#include "message/error.hpp"

namespace skyrec {

std::string BufrError::message() const {
    using std::to_string;
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
        case Kind::Text:
            return "csv/table parse error: " + text_;
        case Kind::Io:
            return "io error: " + text_;
    }
    return "unknown error";
}

}  // namespace skyrec
