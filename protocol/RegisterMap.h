#pragma once
// Register maps: every register of a codec and its bit fields by name, with the meanings of
// the fields' values. A map is read from the console's own JSON format or from CMSIS-SVD XML
// (RegisterMapFile.h); this header is the model the register console, the snapshots and evbctl
// share: lookup by address and by name, field decoding and the read-modify-write arithmetic.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace evb {

enum class RegisterAccess { ReadWrite, ReadOnly, WriteOnly };

// "read-write", "read-only", "write-only"
const char* AccessName(RegisterAccess access);
std::optional<RegisterAccess> AccessFromName(std::string_view name);

struct FieldValue {
    unsigned value = 0;
    std::string name;
    bool operator==(const FieldValue&) const = default;
};

struct RegisterField {
    std::string name;
    std::string description;
    int msb = 0; // msb >= lsb, both in 7..0
    int lsb = 0;
    std::vector<FieldValue> values; // in value order

    int width() const { return msb - lsb + 1; }
    std::uint8_t mask() const { return static_cast<std::uint8_t>(((1u << width()) - 1u) << lsb); }
    unsigned maxValue() const { return (1u << width()) - 1u; }
    unsigned decode(std::uint8_t reg) const { return (reg & mask()) >> lsb; }
    // reg with this field set to value (value must fit: value <= maxValue()).
    std::uint8_t encode(std::uint8_t reg, unsigned value) const {
        return static_cast<std::uint8_t>((reg & ~mask()) | ((value << lsb) & mask()));
    }
    // "VOL[6:0]", "MUTE[7]"
    std::string label() const;
    // The name of a value, or nullptr when the value has none.
    const std::string* valueName(unsigned value) const;
    // The value a name stands for (case does not matter).
    std::optional<unsigned> valueNamed(std::string_view name) const;
    // "VOL[6:0] = 5 (-12 dB)" or "MUTE[7] = off" (a 1-bit field with a name shows only the name).
    std::string describe(std::uint8_t reg) const;
    bool operator==(const RegisterField&) const = default;
};

struct RegisterInfo {
    std::uint8_t address = 0;
    std::string name;
    std::string description;
    RegisterAccess access = RegisterAccess::ReadWrite;
    std::uint8_t reset = 0;
    bool isVolatile = false;
    std::vector<RegisterField> fields; // in bit order, lowest first

    // Bits no field names.
    std::uint8_t reservedMask() const;
    bool writable() const { return access != RegisterAccess::ReadOnly; }
    bool readable() const { return access != RegisterAccess::WriteOnly; }
    const RegisterField* field(std::string_view name) const; // case does not matter
    // "VOL[6:0] = 5 (-12 dB), MUTE[7] = off"
    std::string decode(std::uint8_t value) const;
    bool operator==(const RegisterInfo&) const = default;
};

class RegisterMap {
  public:
    RegisterMap() { m_byAddress.fill(-1); }
    explicit RegisterMap(std::string chip, std::vector<RegisterInfo> registers);

    const std::string& chip() const { return m_chip; }
    const std::vector<RegisterInfo>& registers() const { return m_registers; } // in address order
    std::size_t fieldCount() const;

    const RegisterInfo* find(std::uint8_t address) const;
    const RegisterInfo* find(std::string_view name) const; // case does not matter
    // Up to max names closest to an unknown one: those containing it, then by edit distance.
    std::vector<std::string> closestNames(std::string_view name, std::size_t max = 3) const;
    // "ADC_VOL_L", or "" when the map has no register at the address.
    std::string nameOf(std::uint8_t address) const;

    bool operator==(const RegisterMap&) const = default;

  private:
    std::string m_chip;
    std::vector<RegisterInfo> m_registers;
    std::array<std::int16_t, 256> m_byAddress{};
};

// What is wrong with writing value to the register at address: "" when nothing, else
// "ADC_STATUS is read-only" or "0x87 sets reserved bits 0x80 of ADC_VOL_L".
std::string WriteProblem(const RegisterMap& map, std::uint8_t address, std::uint8_t value);

// Case-insensitive equality of ASCII names.
bool SameName(std::string_view a, std::string_view b);

} // namespace evb
