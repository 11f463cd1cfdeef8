// A signed 64-bit count of ten-thousandths: the type the CPU meter computes in.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace quillomir {

class FixedPoint {
  public:
    static constexpr std::int64_t kScale = 10000;

    constexpr FixedPoint() = default;

    // The value whose count of ten-thousandths is `raw`: an OS counter of N units
    // held this way stands for N / 10 000.
    static constexpr FixedPoint FromRaw(std::int64_t raw) { return FixedPoint(raw); }

    // The 8 raw bytes of a counter, copied as they are.
    static FixedPoint FromBytes(std::uint64_t bits) {
        std::int64_t raw = 0;
        std::memcpy(&raw, &bits, sizeof raw);
        return FixedPoint(raw);
    }

    // Rounds to the nearest ten-thousandth, ties to even. Values beyond the
    // type's range saturate, and NaN gives 0, so no input is undefined.
    static FixedPoint FromDouble(double value) {
        const double scaled = value * static_cast<double>(kScale);
        if (std::isnan(scaled)) {
            return FixedPoint(0);
        }
        constexpr double kLimit = 9.2e18;  // just inside the int64 range
        if (scaled >= kLimit) {
            return FixedPoint(std::numeric_limits<std::int64_t>::max());
        }
        if (scaled <= -kLimit) {
            return FixedPoint(std::numeric_limits<std::int64_t>::min());
        }
        return FixedPoint(std::llrint(scaled));
    }

    // Saturates beyond the type's range, like FromDouble.
    static constexpr FixedPoint FromInteger(std::int64_t value) {
        std::int64_t raw = 0;
        if (__builtin_mul_overflow(value, kScale, &raw)) {
            return FixedPoint(value < 0 ? std::numeric_limits<std::int64_t>::min()
                                        : std::numeric_limits<std::int64_t>::max());
        }
        return FixedPoint(raw);
    }

    constexpr std::int64_t Raw() const { return raw_; }
    double ToDouble() const { return static_cast<double>(raw_) / static_cast<double>(kScale); }

    // Rounds down to a whole number.
    constexpr std::int64_t Floor() const {
        const std::int64_t q = raw_ / kScale;
        return (raw_ % kScale < 0) ? q - 1 : q;
    }

    // Counter differences wrap like the 64-bit registers they come from.
    friend constexpr FixedPoint operator-(FixedPoint a, FixedPoint b) {
        return FixedPoint(static_cast<std::int64_t>(static_cast<std::uint64_t>(a.raw_) -
                                                    static_cast<std::uint64_t>(b.raw_)));
    }
    // A product of two fixed-point values, kept to four decimals; saturates.
    friend constexpr FixedPoint operator*(FixedPoint a, FixedPoint b) {
        std::int64_t product = 0;
        if (__builtin_mul_overflow(a.raw_, b.raw_, &product)) {
            const bool negative = (a.raw_ < 0) != (b.raw_ < 0);
            return FixedPoint(negative ? std::numeric_limits<std::int64_t>::min()
                                       : std::numeric_limits<std::int64_t>::max());
        }
        return FixedPoint(product / kScale);
    }
    friend constexpr bool operator==(FixedPoint, FixedPoint) = default;

  private:
    constexpr explicit FixedPoint(std::int64_t raw) : raw_(raw) {}

    std::int64_t raw_ = 0;
};

}  // namespace quillomir
