// Register maps: the validator (a row per diagnostic, JSON and SVD), the two formats giving one
// map, the field arithmetic and the shipped maps.

#include "protocol/NamedRegisters.h"
#include "protocol/RegisterMapFile.h"

#include <gtest/gtest.h>

#include <filesystem>

using evb::RegisterMapFormat;

namespace {

// SVD rows start on line 2, inside one peripheral at base address 0.
const std::string kSvdHead = "<device><name>T</name><peripherals><peripheral><name>P</name><registers>\n";
const std::string kSvdTail = "\n</registers></peripheral></peripherals></device>";

struct MapCase {
    const char* name;
    RegisterMapFormat format;
    std::string text;
    std::string diagnostics; // as formatted for the file "f"
};

class RegisterMapValidator : public ::testing::TestWithParam<MapCase> {};

TEST_P(RegisterMapValidator, ReportsEachErrorAtItsLineAndRefusesTheMap) {
    const MapCase& c = GetParam();
    const std::string text = c.format == RegisterMapFormat::Svd ? kSvdHead + c.text + kSvdTail : c.text;
    const evb::RegisterMapLoad load = evb::ParseRegisterMap(text);
    EXPECT_EQ(load.format("f"), c.diagnostics);
    EXPECT_EQ(load.map.has_value(), !load.hasErrors());
}

constexpr auto J = RegisterMapFormat::Json;
constexpr auto S = RegisterMapFormat::Svd;

INSTANTIATE_TEST_SUITE_P(
    RegisterMap, RegisterMapValidator,
    ::testing::Values(
        MapCase{"jsonOverlap", J, R"({"registers": [
 {"address": 16, "name": "A", "fields": [
  {"name": "X", "bits": "3:0"},
  {"name": "Y", "bits": "4:2"}]}]})", "f:4: error: field Y[4:2] overlaps field X[3:0] of register A\n"},
        MapCase{"jsonBitsOutside", J, R"({"registers": [{"address": 16, "name": "A",
 "fields": [{"name": "X", "bits": "8:0"}]}]})", "f:2: error: bits 8:0 of field X lie outside 7..0\n"},
        MapCase{"jsonDuplicateName", J, R"({"registers": [{"address": 16, "name": "A"},
 {"address": 17, "name": "a"}]})", "f:2: error: duplicate register name a (first at line 1)\n"},
        MapCase{"jsonDuplicateAddress", J, R"({"registers": [{"address": 16, "name": "A"},
 {"address": "0x10", "name": "B"}]})", "f:2: error: duplicate address 0x10: register B and A (line 1)\n"},
        MapCase{"jsonAddressAbove", J, "{\"registers\": [\n{\"address\": \"0x100\", \"name\": \"A\"}]}",
                "f:2: error: address 0x100 of register A is above 0xFF\n"},
        MapCase{"jsonValueTooWide", J, R"({"registers": [{"address": 16, "name": "A", "fields": [{"name": "X",
 "bits": "1:0", "values": {"0": "off",
 "4": "loud"}}]}]})", "f:3: error: value 0x04 (loud) does not fit the 2-bit field X[1:0] (0..3)\n"},
        MapCase{"jsonUnknownAccess", J, "{\"registers\": [{\"address\": 16, \"name\": \"A\",\n \"access\": \"rw\"}]}",
                "f:2: error: unknown access 'rw' of register A (read-write, read-only or write-only)\n"},
        MapCase{"jsonResetSetsReserved", J, R"({"registers": [{"address": 16, "name": "A",
 "fields": [{"name": "X", "bits": "3:0"}], "volatile": true,
 "reset": "0x1F"}]})", "f:3: error: reset value 0x1F of register A sets reserved bits 0x10 (bits no field names)\n"},
        MapCase{"jsonMalformed", J, "{\"registers\": [\n{\"address\": 16,, \"name\": \"A\"}]}",
                "f:2: error: malformed JSON: syntax error while parsing object key - unexpected ','; expected "
                "string literal\n"},
        MapCase{"jsonUnknownKeyWarns", J, "{\"format\": \"evbconsole-regmap-1\",\n \"chips\": \"KV\"}",
                "f:2: warning: unknown key \"chips\" is ignored\n"},
        MapCase{"svdOverlap", S, R"(<register><name>A</name><addressOffset>16</addressOffset><fields>
<field><name>X</name><bitRange>[3:0]</bitRange></field>
<field><name>Y</name><lsb>2</lsb><msb>4</msb></field></fields></register>)",
                "f:4: error: field Y[4:2] overlaps field X[3:0] of register A\n"},
        MapCase{"svdBitsOutside", S, R"(<register><name>A</name><addressOffset>16</addressOffset><fields>
<field><name>X</name><bitOffset>4</bitOffset><bitWidth>5</bitWidth></field></fields></register>)",
                "f:3: error: bits 8:4 of field X lie outside 7..0\n"},
        MapCase{"svdDuplicateName", S, R"(<register><name>A</name><addressOffset>16</addressOffset></register>
<register><name>A</name><addressOffset>17</addressOffset></register>)",
                "f:3: error: duplicate register name A (first at line 2)\n"},
        MapCase{"svdDuplicateAddress", S, R"(<register><name>A</name><addressOffset>16</addressOffset></register>
<register><name>B</name><addressOffset>0x10</addressOffset></register>)",
                "f:3: error: duplicate address 0x10: register B and A (line 2)\n"},
        MapCase{"svdAddressAbove", S, "<register><name>A</name><addressOffset>0x100</addressOffset></register>",
                "f:2: error: address 0x100 of register A is above 0xFF\n"},
        MapCase{"svdValueTooWide", S, R"(<register><name>A</name><addressOffset>1</addressOffset><fields>
<field><name>X</name><bitRange>[1:0]</bitRange><enumeratedValues><enumeratedValue><name>loud</name>
<value>4</value></enumeratedValue></enumeratedValues></field></fields></register>)",
                "f:4: error: value 0x04 (loud) does not fit the 2-bit field X[1:0] (0..3)\n"},
        MapCase{"svdUnknownAccess", S, "<register><name>A</name><addressOffset>1</addressOffset>\n"
                                       "<access>writeOnce</access></register>",
                "f:3: error: unknown access 'writeOnce' of register A (read-write, read-only or write-only)\n"},
        MapCase{"svdResetSetsReserved", S, R"(<register><name>A</name><addressOffset>1</addressOffset>
<resetValue>0x1F</resetValue><fields><field><name>X</name><bitRange>[3:0]</bitRange></field></fields></register>)",
                "f:3: error: reset value 0x1F of register A sets reserved bits 0x10 (bits no field names)\n"},
        MapCase{"jsonWrongKinds", J, R"({"format": "other", "chip": 5, "registers": [7,
 {"address": "zz", "name": 3, "description": true, "reset": 1.5, "volatile": "yes", "fields": 5},
 {"address": 18, "name": "B", "access": "read-only", "fields": [7, {"name": "X", "bits": [1]},
  {"name": "Y", "bits": 7, "values": 3}, {"name": "Z", "values": {"q": "a", "0": 1}}, {"bits": "0:1"}]}]})",
                "f:1: error: unknown format 'other': this program reads \"evbconsole-regmap-1\"\n"
                "f:1: error: \"chip\" must be a string, not a number\n"
                "f:1: error: a register is a JSON object, not a number\n"
                "f:2: error: \"address\" is not a number: 'zz'\n"
                "f:2: error: \"name\" must be a string, not a number\n"
                "f:2: error: \"description\" must be a string, not a boolean\n"
                "f:2: error: \"reset\" is not a number: 1.5\n"
                "f:2: error: \"volatile\" must be true or false, not a string\n"
                "f:2: error: \"fields\" must be an array\n"
                "f:2: error: register without a name\n"
                "f:3: error: a field is a JSON object, not a number\n"
                "f:3: error: \"bits\" must read \"7\" or \"6:0\", not an array\n"
                "f:3: error: field without a name in register B\n"
                "f:4: error: \"values\" must be an object of value: name\n"
                "f:4: error: the value \"q\" is not a number\n"
                "f:4: error: \"0\" must be a string, not a number\n"
                "f:4: error: field Z has no \"bits\"\n"
                "f:4: error: field without a name in register B\n"
                "f:4: error: bits 0:1 of the field: the higher bit comes first\n"},
        MapCase{"jsonNotAnObject", J, "[1]", "f:1: error: a register map is a JSON object, not an array\n"},
        MapCase{"svdWrongKinds", S, R"(<register><name>A</name><addressOffset>zz</addressOffset>
<access>read-only</access><fields><field><name>X</name><bitRange>[9:8]</bitRange></field>
<field><name>Y</name><lsb>1</lsb><msb>0</msb></field><field><name>Z</name></field>
<field><name>W</name><bitOffset>2</bitOffset><bitWidth>1</bitWidth><enumeratedValues>
<enumeratedValue><name>on</name><value>1</value></enumeratedValue><enumeratedValue><name>bad</name><value>q</value></enumeratedValue>
</enumeratedValues><colour>red</colour></field></fields></register>)", "f:2: error: <addressOffset> is not a number: 'zz'\n"
                "f:3: error: bits 9:8 of field X lie outside 7..0\n"
                "f:4: error: field Z has no bits (<bitOffset>, <bitRange> or <lsb>/<msb>)\n"
                "f:4: error: bits 0:1 of field Y: the higher bit comes first\n"
                "f:6: error: <value> is not a number: 'q'\n"},
        MapCase{"svdSizeNotEight", S, "<register><name>A</name><addressOffset>1</addressOffset>\n<size>16</size></register>",
                "f:3: error: register A has 16 bits; a codec register has 8\n"},
        MapCase{"svdMalformed", S, "<register><name>A</name>\n<addressOffset>1</register>",
                "f:3: error: malformed XML: Start-end tags mismatch\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RegisterMap, SvdAndJsonOfTheSameRegistersGiveTheSameMap) {
    const std::filesystem::path dir = std::filesystem::path(EVB_TEST_FIXTURES) / "regmaps";
    const evb::RegisterMapLoad json = evb::LoadRegisterMapFile((dir / "codec.json").string());
    const evb::RegisterMapLoad svd = evb::LoadRegisterMapFile((dir / "codec.svd").string());
    EXPECT_EQ(json.format("json") + svd.format("svd"), "");
    ASSERT_TRUE(json.map && svd.map);
    EXPECT_EQ(*json.map, *svd.map);
    EXPECT_EQ(json.map->registers().size(), 3u);
}

TEST(RegisterMap, DecodesFieldsAndChangesOnlyTheFieldsBits) {
    const auto load = evb::LoadRegisterMapFile(std::string(EVB_TEST_FIXTURES) + "/regmaps/codec.json");
    ASSERT_TRUE(load.map);
    const evb::RegisterInfo* r = load.map->find("adc_vol_l");
    ASSERT_TRUE(r && r == load.map->find(0x10));
    EXPECT_EQ(r->decode(0x85), "VOL[6:0] = 5, MUTE[7] = on");
    EXPECT_EQ(r->decode(0x7F), "VOL[6:0] = 127 (0 dB), MUTE[7] = off");
    const evb::RegisterField* vol = r->field("VOL");
    EXPECT_EQ(vol->encode(0x85, 7), 0x87);
    EXPECT_EQ(vol->valueNamed("0 DB"), 0x7Fu);
    EXPECT_EQ(load.map->find(0x11)->reservedMask(), 0xCE);
    EXPECT_EQ(load.map->closestNames("ADC_VOL"), std::vector<std::string>{"ADC_VOL_L"});
    EXPECT_EQ(load.map->closestNames("STATUZ"), std::vector<std::string>{"STATUS"});
}

// A map naming all 256 registers: every name a saved snapshot can carry, one volatile register.
evb::RegisterMap FullMap() {
    std::vector<evb::RegisterInfo> regs(256);
    for (int i = 0; i < 256; ++i) {
        regs[i].address = static_cast<std::uint8_t>(i);
        regs[i].name = "LONG_REGISTER_NAME_" + std::to_string(i);
    }
    regs[3].isVolatile = true;
    regs[4].access = evb::RegisterAccess::ReadOnly;
    regs[5].fields = {{"LOW", "", 3, 0, {}}};
    return evb::RegisterMap("T", regs);
}

TEST(NamedRegisters, SnapshotNamesFitTheBufferAndStayLoadable) {
    const std::string text = evb::SnapshotText(std::vector<std::uint8_t>(256, 0x5A), {"T", 0x1A, "now"}, FullMap());
    EXPECT_EQ(text.substr(0, text.find('\r')), ":W005A@ LONG_REGISTER_NAME_0; T, address 0x1A, 256 registers, now");
    std::string folded = text;
    std::erase(folded, '\r');
    EXPECT_LE(folded.size(), evb::kConfigBufferSize);
    const evb::ConfigCheck check = evb::CheckConfigText(folded);
    EXPECT_EQ(check.writes, 256);
    EXPECT_TRUE(check.diagnostics.empty());
}

TEST(NamedRegisters, VolatileLeftOutReadOnlyAndReservedWritesWarned) {
    const evb::RegisterMap map = FullMap();
    evb::RegisterValues expected{{2, 0}, {3, 0}};
    EXPECT_EQ(evb::LeaveOutVolatile(expected, map), 1);
    EXPECT_EQ(expected, (evb::RegisterValues{{2, 0}}));
    std::vector<evb::RegisterDiff> diffs{{4, 1, 2}, {5, 1, 2}};
    EXPECT_EQ(evb::RegisterList(evb::LeaveOutReadOnly(diffs, map), map), "LONG_REGISTER_NAME_4 (0x04)");
    EXPECT_EQ(diffs.size(), 1u);
    evb::ConfigCheck check = evb::CheckConfigText(":W0401@\n:W0510@\n:W0501@\n");
    evb::AddRegisterMapWarnings(check, map);
    EXPECT_EQ(check.format("f"), "f:1: warning: write to 0x04: LONG_REGISTER_NAME_4 is read-only; it is sent\n"
                                 "f:2: warning: write to 0x05: 0x10 sets reserved bits 0x10 of LONG_REGISTER_NAME_5; it "
                                 "is sent\n");
}

// Every shipped map loads without a diagnostic and names the chip its file is for.
TEST(RegisterMap, ShippedMapsAreClean) {
    int maps = 0;
    for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(EVB_PRESETS) / "regmaps")) {
        const auto load = evb::LoadRegisterMapFile(e.path().string());
        EXPECT_EQ(load.format(e.path().filename().string()), "");
        ASSERT_TRUE(load.map);
        EXPECT_EQ(evb::RegisterMapFileName(load.map->chip()), e.path().filename().string());
        ++maps;
    }
    EXPECT_GE(maps, 15);
}

} // namespace
