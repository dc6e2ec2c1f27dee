#include "protocol/Pll.h"

#include "protocol/TextConv.h"

#include <cmath>

namespace evb {

namespace {

// A 32-bit integer product that wraps rather than overflows, then single precision.
float wrapTimes(int value, std::uint32_t factor) {
    const auto product = static_cast<std::int32_t>(static_cast<std::uint32_t>(value) * factor);
    return static_cast<float>(product);
}

} // namespace

PllValues ComputePll(std::string_view mclkText, std::string_view lrckText) {
    PllValues pll;
    const int m = StrToIntDef(mclkText, 128);
    pll.mclk = wrapTimes(m, 1000000u);
    pll.lrck = wrapTimes(StrToIntDef(lrckText, 128), 1000u);
    if (m >= 20) pll.mclk = pll.mclk * 0.5f;

    const float t = pll.lrck * 256.0f * 8.0f;
    // The ratio and the fraction are computed in extended precision; only the fraction's
    // final product is rounded to single precision before it is truncated.
    const long double ratio = static_cast<long double>(t) / static_cast<long double>(pll.mclk);
    constexpr long double kLimit = 9.0e18L;
    if (!std::isfinite(ratio) || std::fabs(ratio) >= kLimit) return pll;
    const auto n = static_cast<std::int64_t>(ratio);
    const float product =
        static_cast<float>((ratio - static_cast<long double>(n & 0xFF)) * 0.6573598222296L * 4194304.0L);
    const auto k = static_cast<std::int64_t>(product);
    pll.valid = true;
    pll.n = static_cast<std::uint8_t>(n & 0xFF);
    pll.k = {static_cast<std::uint8_t>((k >> 16) & 0xFF), static_cast<std::uint8_t>((k >> 8) & 0xFF),
             static_cast<std::uint8_t>(k & 0xFF)};
    return pll;
}

std::array<PllRegisterWrite, 7> PllRegisterWrites(const PllValues& pll, SupplyRange supply) {
    const auto supplyByte = static_cast<std::uint8_t>(static_cast<std::uint8_t>(supply) << 2);
    return {{{0x02, 0x81},
             {0x03, supplyByte},
             {0x04, pll.n},
             {0x05, pll.k[0]},
             {0x06, pll.k[1]},
             {0x07, pll.k[2]},
             {0x02, 0x41}}};
}

} // namespace evb
