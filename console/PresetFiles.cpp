#include "console/PresetFiles.h"

#include <filesystem>
#include <system_error>

#ifndef EVB_DATADIR
#define EVB_DATADIR "/usr/local/share/evbconsole"
#endif

namespace evb {

namespace {
std::vector<std::string> gRootsOverride; // UI thread only
}

std::string ProgramFolder() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return ".";
    return exe.parent_path().string();
}

std::vector<std::string> PresetSearchRoots() {
    if (!gRootsOverride.empty()) return gRootsOverride;
    return {ProgramFolder(), EVB_DATADIR};
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

} // namespace evb
