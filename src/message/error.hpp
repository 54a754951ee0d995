// The one error kind of the core. Every fallible operation returns its result
// or one BufrError; the binding turns it into a Python exception in one place.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "message/descriptor.hpp"

namespace skyrec {

class BufrError {
public:
    enum class Kind : std::uint8_t {
        TooShort,
        MissingMarker,
        UnsupportedEdition,
        LengthMismatch,
        TruncatedSection,
        BadTerminator,
        OddDescriptorArea,
        SequenceNotFound,
        IncompleteDelayedReplication,
        UnsupportedReplication,
        ElementNotFound,
        Text,
        Io,
    };

    static BufrError too_short() { return BufrError(Kind::TooShort); }
    static BufrError missing_marker() { return BufrError(Kind::MissingMarker); }
    // `older_too`: editions 2 and 3 were accepted as well as 4.
    static BufrError unsupported_edition(std::uint8_t edition, bool older_too = false) {
        return BufrError(Kind::UnsupportedEdition, edition, older_too ? 1 : 0);
    }
    static BufrError length_mismatch(std::uint64_t declared, std::uint64_t actual) {
        return BufrError(Kind::LengthMismatch, declared, actual);
    }
    static BufrError truncated_section(std::uint64_t offset, std::uint8_t section) {
        return BufrError(Kind::TruncatedSection, offset, section);
    }
    static BufrError bad_terminator() { return BufrError(Kind::BadTerminator); }
    static BufrError odd_descriptor_area() { return BufrError(Kind::OddDescriptorArea); }
    static BufrError sequence_not_found(DescriptorCode c) { return BufrError(Kind::SequenceNotFound, c); }
    static BufrError incomplete_delayed_replication(DescriptorCode c) {
        return BufrError(Kind::IncompleteDelayedReplication, c);
    }
    static BufrError unsupported_replication(DescriptorCode c) { return BufrError(Kind::UnsupportedReplication, c); }
    static BufrError element_not_found(DescriptorCode c) { return BufrError(Kind::ElementNotFound, c); }
    // Free text from any subsystem; shown behind "csv/table parse error: ".
    static BufrError text(std::string t) { return BufrError(Kind::Text, 0, 0, std::move(t)); }
    // A table file or directory that could not be read; `system_text` is the OS description.
    static BufrError io(std::string system_text) { return BufrError(Kind::Io, 0, 0, std::move(system_text)); }

    Kind kind() const noexcept { return kind_; }
    // The free text of Text, or the system text of Io; empty otherwise.
    const std::string& detail() const noexcept { return text_; }
    // The full message, as Python shows it.
    std::string message() const;

private:
    explicit BufrError(Kind k, std::uint64_t a = 0, std::uint64_t b = 0, std::string t = {})
        : kind_(k), a_(a), b_(b), text_(std::move(t)) {}

    Kind kind_;
    std::uint64_t a_;
    std::uint64_t b_;
    std::string text_;
};

}  // namespace skyrec
