// syskit/currency.hpp — the fixed-point currency value of the processor clock readings.
//
// A currency value is a signed 64-bit integer holding the value times 10 000 (four decimal
// places). Counter readings are stored raw in a currency value's storage, so the reading's
// numeric value is the reading divided by 10 000; a difference of two readings multiplied by the
// integer 10 000 is numerically the count of ticks. Arithmetic is exact and checked: a result
// beyond the 64-bit range raises OverflowError instead of wrapping.
#pragma once

#include <compare>
#include <cstdint>

#include "syskit/error.hpp"

namespace syskit {

class Currency {
  public:
    static constexpr std::int64_t kScale = 10000;

    constexpr Currency() noexcept = default;

    // The value whose stored integer is `raw` (numerically raw / 10 000).
    [[nodiscard]] static constexpr Currency from_raw(std::int64_t raw) noexcept {
        Currency c;
        c.raw_ = raw;
        return c;
    }

    [[nodiscard]] constexpr std::int64_t raw() const noexcept { return raw_; }

    // The numeric value as a double, converted the way the platform converts currency values:
    // the stored integer divided by 10 000.
    [[nodiscard]] double to_double() const noexcept {
        return static_cast<double>(raw_) / static_cast<double>(kScale);
    }

    friend Currency operator-(Currency a, Currency b) {
        std::int64_t r = 0;
        if (__builtin_sub_overflow(a.raw_, b.raw_, &r)) throw OverflowError();
        return from_raw(r);
    }

    // Currency times an integer: the stored integer times n.
    friend Currency operator*(Currency a, std::int64_t n) {
        std::int64_t r = 0;
        if (__builtin_mul_overflow(a.raw_, n, &r)) throw OverflowError();
        return from_raw(r);
    }

    friend constexpr auto operator<=>(Currency, Currency) noexcept = default;

  private:
    std::int64_t raw_ = 0;
};

}  // namespace syskit
