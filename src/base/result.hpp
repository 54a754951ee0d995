// Result<T>: a value or a BufrError. Errors travel upward unchanged.
#pragma once

#include <utility>
#include <variant>

#include "base/error.hpp"

namespace skyrec {

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
    Result(BufrError error) : v_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const noexcept { return v_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }

    T& value() & { return std::get<0>(v_); }
    const T& value() const& { return std::get<0>(v_); }
    T&& value() && { return std::get<0>(std::move(v_)); }
    T* operator->() { return &std::get<0>(v_); }
    T& operator*() & { return std::get<0>(v_); }

    const BufrError& error() const& { return std::get<1>(v_); }
    BufrError&& error() && { return std::get<1>(std::move(v_)); }

private:
    std::variant<T, BufrError> v_;
};

// For operations with nothing to return but success.
struct Ok {};
using Status = Result<Ok>;

// `result`, its error (if any) noting the file it is about.
template <class T>
Result<T> in_file(Result<T>&& result, const std::string& path) {
    if (!result) {
        BufrError error = std::move(result).error();
        error.set_file(path);
        return error;
    }
    return std::move(result);
}

}  // namespace skyrec

// Evaluates `expr` (a Result or Status); on error, returns that error from the
// enclosing function.
#define SKYREC_CHECK(expr)                                                              \
    do {                                                                                \
        auto skyrec_check_result_ = (expr);                                             \
        if (!skyrec_check_result_.ok()) return std::move(skyrec_check_result_).error(); \
    } while (0)
