#include "cli/EvbCtlRegmap.h"

#include "cli/EvbCtl.h"
#include "protocol/DataFolders.h"
#include "protocol/RegisterMapFile.h"
#include "protocol/TextConv.h"

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <sstream>
#include <system_error>


namespace evbctl {

namespace {

namespace fs = std::filesystem;

std::string counted(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// A number 0..max as typed (26, 0x1A, $1A), or nullopt when the text is not a number at all.
std::optional<int> numberArg(const std::string& text) {
    const int a = evb::StrToIntDef(text, -1);
    if (a != evb::StrToIntDef(text, -2)) return std::nullopt;
    return a;
}

// The folders a shipped map is looked for in: beside the program (a build tree), then the
// installed data folder.
std::vector<fs::path> mapFolders() {
    return {fs::path(evb::ProgramFolder()) / evb::kRegisterMapFolder,
            fs::path(evb::InstalledDataFolder()) / evb::kRegisterMapFolder};
}

// The shipped map of a chip, its name matched without regard to case; throws with the chips
// there are when none matches.
std::string shippedMap(const std::string& chip) {
    const std::string suffix = evb::RegisterMapFileName("");
    std::vector<std::string> known;
    for (const fs::path& folder : mapFolders()) {
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (name.size() <= suffix.size() ||
                name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
                continue;
            const std::string stem = name.substr(0, name.size() - suffix.size());
            if (evb::SameName(stem, chip)) return it->path().string();
            known.push_back(stem);
        }
        if (!known.empty()) break;
    }
    std::sort(known.begin(), known.end());
    std::string list;
    for (const std::string& k : known)
        list += (list.empty() ? "" : " ") + k;
    throw RegmapArgError{"no shipped register map for " + chip +
                         (list.empty() ? std::string("; none is installed") : "; there are: " + list)};
}

std::string pad(std::string s, std::size_t width) {
    if (s.size() < width) s.append(width - s.size(), ' ');
    return s;
}

Json fieldJson(const evb::RegisterField& f) {
    Json o = {{"name", f.name}, {"msb", f.msb}, {"lsb", f.lsb}, {"description", f.description}};
    Json values = Json::object();
    for (const evb::FieldValue& v : f.values)
        values[v.name] = v.value;
    o["values"] = std::move(values);
    return o;
}

Json mapJson(const evb::RegisterMap& map) {
    Json registers = Json::array();
    for (const evb::RegisterInfo& r : map.registers()) {
        Json fields = Json::array();
        for (const evb::RegisterField& f : r.fields)
            fields.push_back(fieldJson(f));
        registers.push_back({{"reg", r.address},
                             {"name", r.name},
                             {"access", AccessName(r.access)},
                             {"reset", r.reset},
                             {"volatile", r.isVolatile},
                             {"description", r.description},
                             {"fields", std::move(fields)}});
    }
    return registers;
}

void show(const evb::RegisterMap& map, std::ostream& out) {
    out << (map.chip().empty() ? std::string("register map") : map.chip()) << ": "
        << counted(map.registers().size(), "register", "registers") << ", "
        << counted(map.fieldCount(), "field", "fields") << "\n";
    std::size_t nameWidth = 4, fieldWidth = 0;
    for (const evb::RegisterInfo& r : map.registers()) {
        nameWidth = std::max(nameWidth, r.name.size());
        for (const evb::RegisterField& f : r.fields)
            fieldWidth = std::max(fieldWidth, f.label().size());
    }
    out << "ADDR  " << pad("NAME", nameWidth) << "  ACCESS      RESET  DESCRIPTION\n";
    for (const evb::RegisterInfo& r : map.registers()) {
        out << "0x" << evb::Hex2(r.address) << "  " << pad(r.name, nameWidth) << "  "
            << pad(AccessName(r.access), 10) << "  0x" << evb::Hex2(r.reset) << "   " << r.description
            << (r.isVolatile ? " (volatile)" : "") << "\n";
        for (const evb::RegisterField& f : r.fields) {
            std::string line = "      " + pad(f.label(), fieldWidth) + "  " + f.description;
            std::string values;
            for (const evb::FieldValue& v : f.values)
                values += (values.empty() ? "" : ", ") +
                          (f.width() > 3 ? "0x" + evb::Hex2(v.value) : std::to_string(v.value)) + " " +
                          v.name;
            if (!values.empty()) line += (f.description.empty() ? "" : "; ") + values;
            while (!line.empty() && line.back() == ' ')
                line.pop_back();
            out << line << "\n";
        }
    }
}

struct FieldTarget {
    const evb::RegisterInfo* reg = nullptr;
    const evb::RegisterField* field = nullptr;
};

void needMap(const std::string& what, const evb::RegisterMap* map) {
    if (!map)
        throw RegmapArgError{
            "'" + what +
            "' is not a register number; register names need a register map (--regmap FILE or "
            "--chip NAME)"};
}

const evb::RegisterInfo& registerNamed(const std::string& name, const evb::RegisterMap& map) {
    if (const evb::RegisterInfo* r = map.find(name)) return *r;
    const std::vector<std::string> near = map.closestNames(name);
    std::string hint;
    for (std::size_t i = 0; i < near.size(); ++i)
        hint += (i == 0 ? "; did you mean " : i + 1 == near.size() ? " or " : ", ") + near[i];
    throw RegmapArgError{"no register " + name + " in the register map" + (hint.empty() ? "" : hint + "?")};
}

FieldTarget fieldTarget(const std::string& target, const evb::RegisterMap* map) {
    const auto dot = target.find('.');
    needMap(target, map);
    const std::string regPart = target.substr(0, dot);
    const std::string fieldPart = target.substr(dot + 1);
    const evb::RegisterInfo* reg = map->find(RegisterArgument(regPart, map));
    if (!reg) throw RegmapArgError{"register " + regPart + " is not in the register map"};
    const evb::RegisterField* field = reg->field(fieldPart);
    if (!field) {
        std::string names;
        for (const evb::RegisterField& f : reg->fields)
            names += (names.empty() ? "" : " ") + f.name;
        throw RegmapArgError{"register " + reg->name + " has no field " + fieldPart +
                             (names.empty() ? std::string("; it has no fields") : "; its fields: " + names)};
    }
    return {reg, field};
}

} // namespace

int RunRegmap(const std::vector<std::string>& args, Result& result) {
    const std::string sub = args.empty() ? "" : args[0];
    result.setCommand(sub.empty() ? "regmap" : "regmap " + sub);
    if (sub == "show" && args.size() == 2) {
        const evb::RegisterMapLoad load = evb::LoadRegisterMapFile(args[1]);
        result.err() << load.format(args[1]) << std::flush;
        result["file"] = args[1];
        result["diagnostics"] = DiagnosticsJson(load.diagnostics, args[1]);
        if (!load.map)
            return result.fail(load.errorCount() > 0 && load.diagnostics.front().line == 0 ? kExitUsage
                                                                                            : kExitFileErrors,
                               "the register map " + args[1] + " has errors", false);
        std::ostringstream text;
        show(*load.map, text);
        result.say(text.str());
        result["chip"] = load.map->chip();
        result["registers"] = mapJson(*load.map);
        return kExitOk;
    }
    if (sub != "check" || args.size() < 2)
        throw RegmapArgError{"'regmap' takes check FILE... or show FILE", true};
    int rc = kExitOk;
    Json files = Json::array(), diagnostics = Json::array();
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& path = args[i];
        const evb::RegisterMapLoad load = evb::LoadRegisterMapFile(path);
        std::string text = load.format(path);
        for (Json& d : DiagnosticsJson(load.diagnostics, path))
            diagnostics.push_back(std::move(d));
        const int errors = load.errorCount();
        const std::size_t warnings = load.diagnostics.size() - static_cast<std::size_t>(errors);
        Json summary = {{"file", path}, {"errors", errors}, {"warnings", warnings}};
        if (load.map) {
            text += path + ": " + counted(load.map->registers().size(), "register", "registers") + ", " +
                    counted(load.map->fieldCount(), "field", "fields") +
                    (warnings ? ", " + counted(warnings, "warning", "warnings") : "") + "\n";
            summary["registers"] = load.map->registers().size();
            summary["fields"] = load.map->fieldCount();
        } else {
            text += path + ": refused (" + counted(static_cast<std::size_t>(errors), "error", "errors") + ")\n";
            rc = result.fail(kExitFileErrors, "the register map " + path + " has errors", false);
        }
        result.say(text);
        files.push_back(std::move(summary));
    }
    result["files"] = std::move(files);
    result["diagnostics"] = std::move(diagnostics);
    return rc;
}

std::optional<evb::RegisterMap> ChooseRegisterMap(const std::string& file, const std::string& chip,
                                                  std::ostream& err) {
    if (file.empty() && chip.empty()) return std::nullopt;
    if (!file.empty() && !chip.empty()) throw RegmapArgError{"--regmap and --chip exclude each other"};
    const std::string path = file.empty() ? shippedMap(chip) : file;
    const evb::RegisterMapLoad load = evb::LoadRegisterMapFile(path);
    if (!load.diagnostics.empty() && load.diagnostics.front().line == 0)
        throw RegmapArgError{"the register map " + load.format(path)};
    err << load.format(path);
    if (!load.map)
        err << "evbctl: the register map " << path << " has errors; going on without register names\n";
    err << std::flush;
    return load.map;
}

std::uint8_t RegisterArgument(const std::string& arg, const evb::RegisterMap* map) {
    if (const auto n = numberArg(arg)) {
        if (*n < 0 || *n > 255) throw RegmapArgError{"register out of range (0..255): '" + arg + "'", true};
        return static_cast<std::uint8_t>(*n);
    }
    needMap(arg, map);
    return registerNamed(arg, *map).address;
}

std::optional<std::function<int()>> FieldWriteCommand(const std::string& target, const std::string& value,
                                                      const evb::RegisterMap* map, RegisterIo io) {
    if (target.find('.') == std::string::npos) return std::nullopt;
    const FieldTarget t = fieldTarget(target, map);
    unsigned v = 0;
    if (const auto named = t.field->valueNamed(value)) {
        v = *named;
    } else if (const auto n = numberArg(value)) {
        if (*n < 0 || static_cast<unsigned>(*n) > t.field->maxValue())
            throw RegmapArgError{"value " + value + " does not fit " + t.reg->name + "." + t.field->label() +
                                 " (0.." + std::to_string(t.field->maxValue()) + ")"};
        v = static_cast<unsigned>(*n);
    } else {
        std::string names;
        for (const evb::FieldValue& fv : t.field->values)
            names += (names.empty() ? "" : ", ") + fv.name;
        throw RegmapArgError{"'" + value + "' is neither a number nor a value of " + t.reg->name + "." +
                             t.field->name + (names.empty() ? std::string() : " (" + names + ")")};
    }
    if (!t.reg->writable()) throw RegmapArgError{t.reg->name + " is read-only"};
    if (!t.reg->readable())
        throw RegmapArgError{t.reg->name +
                             " is write-only: its other bits cannot be read; write the whole register"};
    const std::uint8_t address = t.reg->address;
    const evb::RegisterField field = *t.field;
    return [io, address, field, v]() -> int {
        std::uint8_t current = 0;
        if (const int rc = io.read(address, current); rc != kExitOk) return rc;
        return io.write(address, field.encode(current, v));
    };
}

std::function<int()> FieldsCommand(const std::string& target, const evb::RegisterMap* map, RegisterIo io,
                                   Result& result) {
    if (!map) throw RegmapArgError{"'fields' needs a register map (--regmap FILE or --chip NAME)"};
    const std::uint8_t address = RegisterArgument(target, map);
    const evb::RegisterInfo* reg = map->find(address);
    return [io, address, reg, &result]() -> int {
        std::uint8_t value = 0;
        if (const int rc = io.read(address, value); rc != kExitOk) return rc;
        result["reg"] = address;
        result["name"] = reg ? Json(reg->name) : Json();
        result["value"] = value;
        result["fields"] = Json::array();
        result["reserved"] = 0;
        std::string text = "0x" + evb::Hex2(address) + (reg ? " " + reg->name : std::string()) + " = 0x" +
                           evb::Hex2(value);
        if (!reg) {
            result.say(text + "  (not in the register map)\n");
            return kExitOk;
        }
        text += (reg->description.empty() ? "" : "  " + reg->description) + "\n";
        Json fields = Json::array();
        for (const evb::RegisterField& f : reg->fields) {
            text += "  " + f.describe(value) + (f.description.empty() ? "" : "  " + f.description) + "\n";
            Json o = {{"name", f.name}, {"msb", f.msb}, {"lsb", f.lsb}, {"value", f.decode(value)}};
            if (const std::string* named = f.valueName(f.decode(value))) o["meaning"] = *named;
            fields.push_back(std::move(o));
        }
        const std::uint8_t reserved = reg->fields.empty() ? 0 : (value & reg->reservedMask());
        if (reserved) text += "  reserved bits 0x" + evb::Hex2(reserved) + " are set\n";
        result["fields"] = std::move(fields);
        result["reserved"] = reserved;
        result.say(text);
        return kExitOk;
    };
}

} // namespace evbctl
