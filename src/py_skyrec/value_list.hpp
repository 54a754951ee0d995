// Decoded values as a Python list of DecodedValue objects, made as the
// decoder hands them over: the list is sized once, compressed columns are
// laid out straight into it, and values share their names' str objects.
#pragma once

#include <vector>

#include "decode/decode_section4.hpp"
#include "py_common/pyref.hpp"
#include "py_common/shared_strings.hpp"

namespace skyrec::py {

class ValueListBuilder final : public Section4Sink {
public:
    ValueListBuilder() = default;
    ~ValueListBuilder() override;
    ValueListBuilder(const ValueListBuilder&) = delete;
    ValueListBuilder& operator=(const ValueListBuilder&) = delete;

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

    // Uncompressed values (a reference each), made before their number is
    // known, then moved into a list of the right size. Grown, not chunked:
    // most messages are small, and a fixed chunk costs more to clear than
    // they hold.
    std::vector<PyObject*> items_;

    SharedStrings strings_;
    Ref list_;  // compressed data, made whole by take_columns
    bool failed_ = false;
};

}  // namespace skyrec::py
