// Decoded values as a Python list of DecodedValue objects, made as the
// decoder hands them over: the list is sized once, compressed columns are
// laid out straight into it, and values share their names' str objects.
#pragma once

#include <algorithm>
#include <memory>
#include <vector>

#include "decode/decode_section4.hpp"
#include "py_common/pyref.hpp"
#include "py_common/shared_strings.hpp"

namespace skyrec::py {

// New references waiting for the list that takes them: released with the
// holder unless a list took them. Grown, not chunked: most messages are
// small, and a fixed chunk costs more to clear than they hold.
class PendingRefs {
public:
    PendingRefs() = default;
    ~PendingRefs() {
        for (std::size_t i = 0; i < size_; ++i)
            Py_DECREF(refs_[i]);
    }
    PendingRefs(const PendingRefs&) = delete;
    PendingRefs& operator=(const PendingRefs&) = delete;

    // Room for `n` more, growing geometrically over many calls; then push
    // cannot fail.
    void make_room(std::size_t n) {
        if (capacity_ - size_ < n) grow(std::max(size_ + n, 2 * capacity_));
    }
    // A store and a count: the room is made.
    void push(PyObject* owned) noexcept { refs_[size_++] = owned; }

    // A new list that takes every reference held, in order; nullptr with an
    // error set, the references still held.
    PyObject* to_list();

private:
    void grow(std::size_t capacity);

    std::unique_ptr<PyObject*[]> refs_;  // the first size_ held, left unset beyond
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

class ValueListBuilder final : public Section4Sink {
public:
    // `strings` makes the names' and meanings' str objects; it outlives the builder.
    explicit ValueListBuilder(SharedStrings& strings) noexcept : strings_(strings) {}

    Status take_values(std::vector<DecodedValue>& batch) override { return ok(add_values(batch)); }
    Status take_columns(const CompressedSection& section) override { return ok(add_columns(section)); }
    bool shows_values() const noexcept override { return false; }  // the flat list keeps class 31's numbers

    // True once a take_ call has failed with a Python error set.
    bool failed() const noexcept { return failed_; }

    // The list of every value taken, in order (a new reference), or nullptr
    // with an error set.
    PyObject* finish();

    bool add_values(const std::vector<DecodedValue>& batch);
    bool add_columns(const CompressedSection& section);

private:
    Status ok(bool done) {
        failed_ = failed_ || !done;
        if (!done) return stopped_by_sink();  // with the Python error set
        return Ok{};
    }

    // Uncompressed values, made before their number is known.
    PendingRefs items_;

    SharedStrings& strings_;
    Ref list_;  // compressed data, made whole by take_columns
    bool failed_ = false;
};

}  // namespace skyrec::py
