#include "protocol/DataFolders.h"

#include <filesystem>
#include <system_error>

#ifndef EVB_DATADIR
#define EVB_DATADIR "/usr/local/share/evbconsole"
#endif
#ifndef EVB_DATADIR_FROM_BIN
#define EVB_DATADIR_FROM_BIN "../share/evbconsole"
#endif

namespace evb {

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

} // namespace evb
