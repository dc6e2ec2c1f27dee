#include "protocol/RegisterMap.h"

#include "protocol/TextConv.h"

#include <algorithm>
#include <cctype>

namespace evb {

namespace {

char lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

std::string lowered(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), lower);
    return out;
}

std::size_t editDistance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

} // namespace

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower(x) == lower(y); });
}

const char* AccessName(RegisterAccess access) {
    switch (access) {
    case RegisterAccess::ReadOnly:
        return "read-only";
    case RegisterAccess::WriteOnly:
        return "write-only";
    case RegisterAccess::ReadWrite:
        break;
    }
    return "read-write";
}

std::optional<RegisterAccess> AccessFromName(std::string_view name) {
    for (const RegisterAccess a :
         {RegisterAccess::ReadWrite, RegisterAccess::ReadOnly, RegisterAccess::WriteOnly})
        if (name == AccessName(a)) return a;
    return std::nullopt;
}

std::string RegisterField::label() const {
    return name + "[" + std::to_string(msb) + (msb == lsb ? "" : ":" + std::to_string(lsb)) + "]";
}

const std::string* RegisterField::valueName(unsigned value) const {
    for (const FieldValue& v : values)
        if (v.value == value) return &v.name;
    return nullptr;
}

std::optional<unsigned> RegisterField::valueNamed(std::string_view name) const {
    for (const FieldValue& v : values)
        if (SameName(v.name, name)) return v.value;
    return std::nullopt;
}

std::string RegisterField::describe(std::uint8_t reg) const {
    const unsigned v = decode(reg);
    const std::string* named = valueName(v);
    if (named && width() == 1) return label() + " = " + *named;
    return label() + " = " + std::to_string(v) + (named ? " (" + *named + ")" : "");
}

std::uint8_t RegisterInfo::reservedMask() const {
    unsigned used = 0;
    for (const RegisterField& f : fields)
        used |= f.mask();
    return static_cast<std::uint8_t>(~used & 0xFFu);
}

const RegisterField* RegisterInfo::field(std::string_view fieldName) const {
    for (const RegisterField& f : fields)
        if (SameName(f.name, fieldName)) return &f;
    return nullptr;
}

std::string RegisterInfo::decode(std::uint8_t value) const {
    std::string out;
    for (const RegisterField& f : fields)
        out += (out.empty() ? "" : ", ") + f.describe(value);
    return out;
}

RegisterMap::RegisterMap(std::string chip, std::vector<RegisterInfo> registers)
    : m_chip(std::move(chip)), m_registers(std::move(registers)) {
    std::stable_sort(m_registers.begin(), m_registers.end(),
                     [](const RegisterInfo& a, const RegisterInfo& b) { return a.address < b.address; });
    for (RegisterInfo& r : m_registers)
        std::stable_sort(r.fields.begin(), r.fields.end(),
                         [](const RegisterField& a, const RegisterField& b) { return a.lsb < b.lsb; });
    m_byAddress.fill(-1);
    for (std::size_t i = 0; i < m_registers.size(); ++i)
        m_byAddress[m_registers[i].address] = static_cast<std::int16_t>(i);
}

std::size_t RegisterMap::fieldCount() const {
    std::size_t n = 0;
    for (const RegisterInfo& r : m_registers)
        n += r.fields.size();
    return n;
}

const RegisterInfo* RegisterMap::find(std::uint8_t address) const {
    const int i = m_byAddress[address];
    return i < 0 ? nullptr : &m_registers[static_cast<std::size_t>(i)];
}

const RegisterInfo* RegisterMap::find(std::string_view name) const {
    for (const RegisterInfo& r : m_registers)
        if (SameName(r.name, name)) return &r;
    return nullptr;
}

std::string RegisterMap::nameOf(std::uint8_t address) const {
    const RegisterInfo* r = find(address);
    return r ? r->name : std::string();
}

std::vector<std::string> RegisterMap::closestNames(std::string_view name, std::size_t max) const {
    const std::string want = lowered(name);
    std::vector<std::pair<std::size_t, std::string>> ranked;
    for (const RegisterInfo& r : m_registers) {
        const std::string have = lowered(r.name);
        const std::size_t d = editDistance(want, have);
        // A name containing what was typed ranks first; otherwise only near misses count.
        if (!want.empty() && have.find(want) != std::string::npos)
            ranked.emplace_back(0, r.name);
        else if (d <= std::max<std::size_t>(2, want.size() / 3))
            ranked.emplace_back(d, r.name);
    }
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> out;
    for (std::size_t i = 0; i < ranked.size() && i < max; ++i)
        out.push_back(ranked[i].second);
    return out;
}

std::string WriteProblem(const RegisterMap& map, std::uint8_t address, std::uint8_t value) {
    const RegisterInfo* r = map.find(address);
    if (!r) return {};
    if (!r->writable()) return r->name + " is read-only";
    const std::uint8_t reserved =
        r->fields.empty() ? 0 : static_cast<std::uint8_t>(value & r->reservedMask());
    if (reserved) return "0x" + Hex2(value) + " sets reserved bits 0x" + Hex2(reserved) + " of " + r->name;
    return {};
}

} // namespace evb
