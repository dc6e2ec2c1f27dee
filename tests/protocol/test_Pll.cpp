// The PLL arithmetic as a table. That "PLL Configuration" sends these writes, and only while
// "PLL Used" is ticked, is the main window's test.
#include "protocol/Pll.h"
#include "protocol/TextConv.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace evb;

// Typed MCLK and LRCK in; the PLL's input frequencies, N and K out ("-": no ratio); and the
// seven writes that carry them, with the supply range in bits 3..2 of register 0x03.
TEST(PllArithmetic, TypedClocksGiveNAndKAndTheWritesCarryThemWithTheSupplyRange) {
    const auto values = [](const char* mclk, const char* lrck) {
        const PllValues p = ComputePll(mclk, lrck);
        return std::to_string(std::lround(p.mclk)) + " " + std::to_string(std::lround(p.lrck)) + " " +
               (p.valid ? Hex2(p.n) + " " + Hex2(p.k[0]) + Hex2(p.k[1]) + Hex2(p.k[2]) : "-");
    };
    EXPECT_EQ(values("13", "48"), "13000000 48000 07 17A32F");
    EXPECT_EQ(values("24", "48"), "12000000 48000 08 0813E0");    // from 20 MHz up the input is halved
    EXPECT_EQ(values("abc", ""), "64000000 128000 04 0409F0");    // no number counts as 128
    EXPECT_EQ(values("1", "192"), "1000000 192000 89 1B4540");    // ratio 393: N modulo 256
    EXPECT_EQ(values("5000", "48"), "352516352 48000 00 0BBB69"); // 5 000 000 000 wraps in 32 bits
    EXPECT_EQ(values("0", "48"), "0 48000 -");
    for (const auto& [supply, byte] :
         {std::pair{SupplyRange::Dvdd2V0, "00"}, {SupplyRange::Dvdd2V5, "04"}, {SupplyRange::Dvdd3V3, "08"}}) {
        std::string sent;
        for (const PllRegisterWrite& w : PllRegisterWrites(ComputePll("13", "48"), supply))
            sent += Hex2(w.reg) + "=" + Hex2(w.value) + " ";
        EXPECT_EQ(sent, std::string("02=81 03=") + byte + " 04=07 05=17 06=A3 07=2F 02=41 ");
    }
}
