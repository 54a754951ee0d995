#include "encode/transcode.hpp"

#include <string>

#include "decode/decode_section4.hpp"
#include "decode/field_copy.hpp"
#include "encode/text_field.hpp"

namespace skyrec {
namespace {

constexpr std::uint32_t kClass31 = 31;

class Transcoder final : public FieldCopy {
public:
    Transcoder(BitWriter& writer, const TableSet& tables, std::span<const ValueChange> changes,
               const EncodeOptions& options)
        : writer_(writer), tables_(tables), changes_(changes), options_(options) {}

    void start_subset(std::size_t subset) override {
        subset_ = subset;
        position_ = 0;
    }
    bool numeric(const ElementRef& element, const FieldShape& shape, std::uint64_t raw) override {
        if (changed()) [[unlikely]]
            return changed_numeric(element, shape);
        ++position_;
        writer_.write(shape.width, raw);
        return true;
    }
    bool text(DescriptorCode code, const std::uint8_t* bytes, std::uint32_t width) override {
        if (changed()) [[unlikely]]
            return changed_text(code, width);
        ++position_;
        write_text_field(writer_, bytes, width);
        return true;
    }
    bool marker(DescriptorCode code) override {
        if (changed()) [[unlikely]] {
            return refuse("value " + std::to_string(position_) + " of subset " + std::to_string(subset_) +
                          " is the marker of " + descriptor_text(code) + " and holds no data");
        }
        ++position_;
        return true;
    }
    void reference(std::uint64_t raw, std::uint32_t width) override { writer_.write(width, raw); }
    BufrError take_error() override { return std::move(error_); }

    // Every change used, or the first that named no value.
    Status finish() const {
        if (next_ == changes_.size()) return Ok{};
        return no_such_value(changes_[next_]);
    }

private:
    bool changed() const noexcept {
        return next_ < changes_.size() && changes_[next_].position == position_ && changes_[next_].subset == subset_;
    }
    bool refuse(std::string text) {
        error_ = BufrError::text(std::move(text));
        return false;
    }

    bool changed_numeric(const ElementRef& element, const FieldShape& shape) {
        FieldPlan field;
        field.missing_recognised = element.missing_recognised;
        field.code = element.def->code;
        field.key = &element.def->abbreviation;
        field.shape = shape;
        field.slot = position_;
        if (code_x(field.code) == kClass31) {
            return refuse(descriptor_text(field.code) + " " + *field.key + " in subset " + std::to_string(subset_) +
                          " cannot change in a decoded message: replication factors, bitmaps and their kin "
                          "shape the data after them; write the message from its values instead");
        }
        auto value = field_value(changes_[next_++].slot, field, subset_, options_);
        if (!value) {
            error_ = std::move(value).error();
            return false;
        }
        ++position_;
        writer_.write(shape.width, value->raw);
        return true;
    }

    bool changed_text(DescriptorCode code, std::uint32_t width) {
        FieldPlan field;
        field.kind = FieldPlan::Kind::Text;
        field.code = code;
        const ElementDefinition* def = tables_.element(code);
        field.key = def != nullptr ? &def->abbreviation : nullptr;
        field.shape.width = width;
        field.slot = position_;
        if (Status s = text_bytes(changes_[next_++].slot, field, subset_, text_); !s) {
            error_ = std::move(s).error();
            return false;
        }
        ++position_;
        write_text_field(writer_, text_.data(), width);
        return true;
    }

    BitWriter& writer_;
    const TableSet& tables_;
    const std::span<const ValueChange> changes_;
    const EncodeOptions options_;
    std::size_t next_ = 0;  // the next change to make
    std::size_t subset_ = 0;
    std::size_t position_ = 0;  // values of the subset walked
    std::vector<std::uint8_t> text_;
    BufrError error_ = BufrError::text("");
};

// Section 4 of the message, walked and written field by field.
class CopiedData final : public SectionData {
public:
    CopiedData(const BufrMessage& message, ByteView bytes, const TableSet& tables, std::span<const ValueChange> changes,
               const EncodeOptions& options)
        : message_(message), bytes_(bytes), tables_(tables), changes_(changes), options_(options) {}

    std::size_t subsets() const override { return message_.number_of_subsets; }
    std::size_t size_hint() const override { return bytes_.size; }
    Status write(BitWriter& writer) const override {
        Transcoder copy(writer, tables_, changes_, options_);
        SKYREC_CHECK(copy_section4(message_, tables_, message_.section4_data(bytes_), copy));
        return copy.finish();
    }

private:
    const BufrMessage& message_;
    const ByteView bytes_;
    const TableSet& tables_;
    const std::span<const ValueChange> changes_;
    const EncodeOptions& options_;
};

}  // namespace

BufrError no_such_value(const ValueChange& change) {
    return BufrError::text("subset " + std::to_string(change.subset) + " has no value " +
                           std::to_string(change.position));
}

Result<std::vector<std::uint8_t>> transcode_message(const MessageHeader& header, const BufrMessage& message,
                                                    ByteView bytes, const TableSet& tables,
                                                    std::span<const ValueChange> changes,
                                                    const EncodeOptions& options) {
    if (message.compressed_data || header.fields.compressed_data) {
        return BufrError::text("a field by field copy writes uncompressed data from uncompressed data");
    }
    return encode_message(header, message.unexpanded_descriptors, CopiedData(message, bytes, tables, changes, options));
}

}  // namespace skyrec
