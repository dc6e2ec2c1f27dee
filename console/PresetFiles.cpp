#include "console/PresetFiles.h"

#include <filesystem>
#include <system_error>

#ifndef EVB_DATADIR
#define EVB_DATADIR "/usr/local/share/evbconsole"
#endif
#ifndef EVB_DATADIR_FROM_BIN
#define EVB_DATADIR_FROM_BIN "../share/evbconsole"
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

std::string InstalledDataFolder() {
    // Relative to the program first, so an installed tree that was moved or unpacked elsewhere
    // (a DESTDIR, a relocated prefix) finds its own data rather than another installation's.
    std::error_code ec;
    const std::filesystem::path relative =
        (std::filesystem::path(ProgramFolder()) / EVB_DATADIR_FROM_BIN).lexically_normal();
    if (std::filesystem::is_directory(relative, ec)) return relative.string();
    return EVB_DATADIR;
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
