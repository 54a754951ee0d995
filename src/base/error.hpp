// The one error kind of the core. Every fallible operation returns its result
// or one BufrError; the binding turns it into a Python exception in one place.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/descriptor.hpp"

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
        CutShort,
        // Free-text kinds by cause; all read "csv/table parse error: {text}".
        BitsExhausted,
        LimitExceeded,
        InvalidDescriptor,
        TableSyntax,
        Unsupported,
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
    // A message whose declared length runs past the bytes that are left.
    static BufrError cut_short(std::uint64_t declared, std::uint64_t left) {
        return BufrError(Kind::CutShort, declared, left);
    }
    // Section 4 data that ends before a field does.
    static BufrError bits_exhausted(std::string t) { return BufrError(Kind::BitsExhausted, 0, 0, std::move(t)); }
    // A bound on work or output (base/limits.hpp) that an input passed.
    static BufrError limit_exceeded(std::string t) { return BufrError(Kind::LimitExceeded, 0, 0, std::move(t)); }
    static BufrError invalid_descriptor(DescriptorCode c) {
        return BufrError(Kind::InvalidDescriptor, c, 0, "invalid descriptor " + descriptor_text(c));
    }
    // A table file's content that does not read.
    static BufrError table_syntax(std::string t) { return BufrError(Kind::TableSyntax, 0, 0, std::move(t)); }
    // Data that is valid but that this decoder does not handle.
    static BufrError unsupported(std::string t) { return BufrError(Kind::Unsupported, 0, 0, std::move(t)); }
    // Free text of no other cause; shown behind "csv/table parse error: ".
    static BufrError text(std::string t) { return BufrError(Kind::Text, 0, 0, std::move(t)); }
    // A table file or directory that could not be read; `system_text` is the OS description.
    static BufrError io(std::string system_text) { return BufrError(Kind::Io, 0, 0, std::move(system_text)); }

    Kind kind() const noexcept { return kind_; }
    // The kind as callers name it: "element_not_found", "cut_short", ... (the
    // enumerators above in snake case).
    const char* kind_name() const noexcept;
    // The free text of Text, or the system text of Io; empty otherwise.
    const std::string& detail() const noexcept { return text_; }
    // The full message, as _skyrec shows it.
    std::string message() const;
    // The message without the prefix that _skyrec shows free-text kinds behind.
    std::string reason() const;

    // Where a decode failed, noted only as the failure travels up: the
    // descriptors from the outermost list down to the failing one, and the
    // subset of uncompressed data. message() and reason() leave them out.
    void add_outer_descriptor(DescriptorCode c) { path_.push_back(c); }
    void set_subset(std::uint32_t subset) { subset_ = subset; }
    // The table file that a loader's error is about (the innermost named).
    void set_file(const std::string& path) {
        if (file_.empty()) file_ = path;
    }
    // "subset 12, 303054 > 012101" or "file .../element.table"; "" when the
    // error says nothing of where.
    std::string where() const;
    const std::optional<std::uint32_t>& subset() const noexcept { return subset_; }
    // Outermost first.
    std::vector<DescriptorCode> path() const { return {path_.rbegin(), path_.rend()}; }

private:
    explicit BufrError(Kind k, std::uint64_t a = 0, std::uint64_t b = 0, std::string t = {})
        : kind_(k), a_(a), b_(b), text_(std::move(t)) {}

    Kind kind_;
    std::uint64_t a_;
    std::uint64_t b_;
    std::string text_;
    std::vector<DescriptorCode> path_;  // innermost first
    std::optional<std::uint32_t> subset_;
    std::string file_;
};

}  // namespace skyrec
