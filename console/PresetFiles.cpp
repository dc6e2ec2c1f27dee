#include "console/PresetFiles.h"

#include <filesystem>
#include <system_error>

namespace evb {

namespace {
std::vector<std::string> gRootsOverride; // UI thread only
}

std::vector<std::string> PresetSearchRoots() {
    if (!gRootsOverride.empty()) return gRootsOverride;
    return {ProgramFolder(), InstalledDataFolder()};
}

void SetPresetSearchRoots(std::vector<std::string> roots) {
    gRootsOverride = std::move(roots);
}

PresetLocation FindPresetFile(const std::string& folder, const std::string& name) {
    PresetLocation location;
    for (const std::string& root : PresetSearchRoots()) {
        std::filesystem::path p(root);
        if (!folder.empty()) p /= folder;
        p /= name;
        if (location.path.empty()) location.path = p.string();
        std::error_code ec;
        if (std::filesystem::is_regular_file(p, ec)) {
            location.found = true;
            location.path = p.string();
            return location;
        }
    }
    return location;
}

std::string FindDocument(const std::string& name) {
    std::error_code ec;
    const std::filesystem::path here = std::filesystem::absolute(name, ec);
    if (ec) return name;
    if (std::filesystem::is_regular_file(here, ec)) return here.string();
    const PresetLocation shipped = FindPresetFile("", name);
    return shipped.found ? shipped.path : here.string();
}

} // namespace evb
