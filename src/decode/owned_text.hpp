// An owned, optional text in one allocation of one pointer's size, so that
// the decoded value record stays small. Copies are deep.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

namespace skyrec {

class OwnedText {
public:
    OwnedText() noexcept = default;
    explicit OwnedText(std::string_view text) { assign(text); }
    OwnedText(const OwnedText& other) {
        if (other.present()) assign(other.view());
    }
    OwnedText& operator=(const OwnedText& other) {
        if (this != &other) *this = OwnedText(other);
        return *this;
    }
    OwnedText(OwnedText&&) noexcept = default;
    OwnedText& operator=(OwnedText&&) noexcept = default;

    bool present() const noexcept { return block_ != nullptr; }
    std::string_view view() const noexcept {
        if (!block_) return {};
        std::uint32_t n;
        std::memcpy(&n, block_.get(), sizeof n);
        return {block_.get() + sizeof n, n};
    }

private:
    // Layout: a 32-bit length, then the characters.
    void assign(std::string_view text) {
        const auto n = static_cast<std::uint32_t>(text.size());
        block_ = std::make_unique_for_overwrite<char[]>(sizeof n + text.size());
        std::memcpy(block_.get(), &n, sizeof n);
        if (!text.empty()) std::memcpy(block_.get() + sizeof n, text.data(), text.size());
    }

    std::unique_ptr<char[]> block_;
};

}  // namespace skyrec
