// What the encoder writes: each subset's values in the order the decoder
// makes them (markers, associated fields and replication factors included;
// a reference that 203YYY defines takes a slot of its own).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace skyrec {

struct Slot {
    enum class Kind : std::uint8_t {
        Missing,
        Raw,     // the field's integer as it stands in the data
        Number,  // a value to scale: raw = round(number x 10^scale) - reference
        Text,    // bytes, padded with blanks to the width
    };
    Kind kind = Kind::Missing;
    std::uint64_t raw = 0;
    double number = 0.0;
    std::string_view text;
};

// Values by subset and position, from whatever holds them.
class SlotSource {
public:
    virtual ~SlotSource() = default;
    virtual std::size_t subsets() const = 0;
    virtual std::size_t size(std::size_t subset) const = 0;
    virtual Slot at(std::size_t subset, std::size_t index) const = 0;
    // Where slot `index` of every subset is a plain number (NaN missing):
    // subset j's at numbers[j * stride]. nullptr when the source holds them otherwise.
    virtual const double* numbers(std::size_t /*index*/, std::ptrdiff_t& /*stride*/) const { return nullptr; }
};

// Slots held in one array, subset after subset, their texts in one buffer.
class FlatSlots final : public SlotSource {
public:
    void reserve(std::size_t slots, std::size_t subsets) {
        slots_.reserve(slots);
        starts_.reserve(subsets);
    }
    void start_subset() { starts_.push_back(slots_.size()); }
    void add_missing() { slots_.push_back({Slot::Kind::Missing, 0, 0.0, 0, 0}); }
    void add_raw(std::uint64_t raw) { slots_.push_back({Slot::Kind::Raw, raw, 0.0, 0, 0}); }
    void add_number(double number) { slots_.push_back({Slot::Kind::Number, 0, number, 0, 0}); }
    void add_text(std::string_view text) {
        slots_.push_back({Slot::Kind::Text, 0, 0.0, texts_.size(), text.size()});
        texts_.append(text);
    }

    std::size_t subsets() const override { return starts_.size(); }
    std::size_t size(std::size_t subset) const override {
        const std::size_t end = subset + 1 < starts_.size() ? starts_[subset + 1] : slots_.size();
        return end - starts_[subset];
    }
    Slot at(std::size_t subset, std::size_t index) const override {
        const Stored& s = slots_[starts_[subset] + index];
        return {s.kind, s.raw, s.number, std::string_view(texts_).substr(s.text_start, s.text_size)};
    }

private:
    struct Stored {
        Slot::Kind kind;
        std::uint64_t raw;
        double number;
        std::size_t text_start;
        std::size_t text_size;
    };
    std::vector<Stored> slots_;
    std::vector<std::size_t> starts_;
    std::string texts_;
};

}  // namespace skyrec
