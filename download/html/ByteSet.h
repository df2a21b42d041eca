#pragma once
// A set of byte values: the bytes that stop a run of the tokenizer.
#include <array>
#include <cstddef>
#include <string_view>

namespace dl {

class ByteSet {
public:
    constexpr ByteSet() = default;
    constexpr explicit ByteSet(std::string_view members) {
        for (char c : members) bits_[static_cast<unsigned char>(c)] = true;
    }
    constexpr bool contains(char c) const { return bits_[static_cast<unsigned char>(c)]; }
    constexpr ByteSet operator+(const ByteSet& other) const {
        ByteSet both;
        for (std::size_t i = 0; i < bits_.size(); ++i) both.bits_[i] = bits_[i] || other.bits_[i];
        return both;
    }

private:
    std::array<bool, 256> bits_{};
};

}  // namespace dl
