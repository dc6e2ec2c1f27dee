#pragma once
// evbctl and register maps: "regmap check|show" (no port), the map a run uses (--regmap FILE or
// --chip NAME), register arguments given by name, and the commands that need a map's fields:
// "write NAME.FIELD VALUE" (read-modify-write) and "fields REG|NAME".

#include "cli/EvbCtlResult.h"
#include "protocol/RegisterMap.h"

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace evbctl {

// A register argument or map choice that cannot be used: exit 2, the message without the usage
// text (an unknown name suggests the closest ones).
struct RegmapArgError {
    std::string message;
    bool withUsage = false; // a malformed argument rather than an unknown name
};

// regmap check FILE... | regmap show FILE
int RunRegmap(const std::vector<std::string>& args, Result& result);

// The map of --regmap FILE or --chip NAME (both empty: none). A map with errors is refused
// whole: its diagnostics go to err and the run goes on without names. An unknown chip or an
// unreadable file throws RegmapArgError.
std::optional<evb::RegisterMap> ChooseRegisterMap(const std::string& file, const std::string& chip,
                                                  std::ostream& err);

// A register given as a number (26, 0x1A, $1A) or, with a map, by name.
std::uint8_t RegisterArgument(const std::string& arg, const evb::RegisterMap* map);

// The board access the map commands need, provided by the session: each returns an exit status.
struct RegisterIo {
    std::function<int(std::uint8_t reg, std::uint8_t& value)> read; // reads quietly
    std::function<int(std::uint8_t reg, std::uint8_t value)> write; // prints the console line
};

// "write NAME.FIELD VALUE": nullopt when target has no field part (an ordinary write). Checks the
// arguments now and returns the action to run once the port is open.
std::optional<std::function<int()>> FieldWriteCommand(const std::string& target, const std::string& value,
                                                      const evb::RegisterMap* map, RegisterIo io);

// "fields REG|NAME": reads the register and tells it decoded.
std::function<int()> FieldsCommand(const std::string& target, const evb::RegisterMap* map, RegisterIo io,
                                   Result& result);

} // namespace evbctl
