#include "pipeline/message_loop.hpp"

namespace skyrec {

MessageFailure failure_of(const BufrError& error, std::size_t piece, std::size_t position) {
    return {piece, position, error.kind_name(), error.reason(), error.where(), error.subset(), error.path()};
}

}  // namespace skyrec
