// The message loop of every many-message read: the messages a header pass
// framed (once), each handed with its tables to a sink, each ending in a
// status. Out of memory and a failed table load become that message's
// status here, in one place; an interrupt ends the loop.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/bytes.hpp"
#include "base/error.hpp"
#include "base/interrupt.hpp"
#include "base/limits.hpp"
#include "base/result.hpp"
#include "message/header_pass.hpp"
#include "message/message_tag.hpp"
#include "tables/table_set.hpp"

namespace skyrec {

// Why a message added nothing, as fields: the kind (BufrError::kind_name,
// or "tables" for tables that could not be loaded), the reason and where.
struct MessageFailure {
    std::size_t piece = 0;
    std::size_t position = 0;  // in the piece's rows
    std::string kind;
    std::string reason;
    std::string where;
    std::optional<std::uint32_t> subset;
    std::vector<DescriptorCode> path;  // outermost first
};

// The tables of a message, or why it has none: what a resolver gives.
struct TableChoice {
    const TableSet* tables = nullptr;
    std::string kind;  // of the failure, when tables is null
    std::string reason;
    std::string where;
};

// Some messages of one header pass over `bytes`: rows of `framed` (framed
// with keep_records), each with its number and its tables.
struct FramedPiece {
    ByteView bytes;
    const HeaderColumns* framed = nullptr;
    std::int32_t file = 0;
    std::size_t base = 0;  // where `bytes` start in the file
    std::vector<std::size_t> rows;
    std::vector<std::int64_t> messages;
    std::vector<const TableChoice*> tables;
};

MessageFailure failure_of(const BufrError& error, std::size_t piece, std::size_t position);

// Calls sink(message, tables, section4, whole_length, tag), a
// Result<std::size_t> of the rows it added, for every row of every piece in
// order, until an interrupt is asked for; `rows` receives each message's
// rows (0 for a failure), the result lists the failures.
template <class Sink>
std::vector<MessageFailure> run_messages(const std::vector<FramedPiece>& pieces, Sink&& sink,
                                         std::vector<std::uint64_t>& rows) {
    std::vector<MessageFailure> failures;
    for (std::size_t p = 0; p < pieces.size(); ++p) {
        const FramedPiece& piece = pieces[p];
        for (std::size_t i = 0; i < piece.rows.size(); ++i) {
            if (interrupt_requested()) return failures;
            const std::size_t row = piece.rows[i];
            const TableChoice& choice = *piece.tables[i];
            if (choice.tables == nullptr) {
                rows.push_back(0);
                failures.push_back({p, i, choice.kind, choice.reason, choice.where, std::nullopt, {}});
                continue;
            }
            const BufrMessage& message = piece.framed->records[row];
            const ByteView whole = piece.bytes.subview(piece.framed->offset[row], piece.framed->length[row]);
            const MessageTag tag{piece.file, piece.messages[i],
                                 static_cast<std::int64_t>(piece.base + piece.framed->offset[row])};
            Result<std::size_t> added = within_memory(
                [&] { return sink(message, *choice.tables, message.section4_data(whole), whole.size, tag); });
            rows.push_back(added ? *added : 0);
            if (!added) failures.push_back(failure_of(added.error(), p, i));
        }
    }
    return failures;
}

}  // namespace skyrec
