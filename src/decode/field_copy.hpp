// Each field an uncompressed walk reads, handed as it stands to a caller
// that writes the data again in the same pass (encode/transcode.cpp).
#pragma once

#include <cstdint>
#include <string>

#include "base/descriptor.hpp"
#include "base/error.hpp"
#include "decode/element_ref.hpp"
#include "decode/field_rules.hpp"

namespace skyrec {

class FieldCopy {
public:
    virtual ~FieldCopy() = default;
    virtual void start_subset(std::size_t subset) = 0;
    // A number: its raw bits in the shape the walk read them with.
    virtual bool numeric(const ElementRef& element, const FieldShape& shape, std::uint64_t raw) = 0;
    // A text: `width` bits, in (width + 7) / 8 bytes.
    virtual bool text(DescriptorCode code, const std::uint8_t* bytes, std::uint32_t width) = 0;
    // An operator's marker, a value without bits.
    virtual bool marker(DescriptorCode code) = 0;
    // A 203YYY reference, which is no value.
    virtual void reference(std::uint64_t raw, std::uint32_t width) = 0;
    // Why the copy stopped, after a hook returned false.
    virtual BufrError take_error() = 0;
};

}  // namespace skyrec
