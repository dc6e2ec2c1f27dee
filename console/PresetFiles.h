#pragma once
// Where preset and equaliser files are found: below the program's own folder (a build tree
// carries its presets next to the executables), then in the installed data directory.

#include "protocol/DataFolders.h"

#include <string>
#include <vector>

namespace evb {

// The folders searched, in order. Default: the program folder, then InstalledDataFolder().
std::vector<std::string> PresetSearchRoots();
// Replaces the search folders (tests point them at a fixture tree); empty restores the default.
void SetPresetSearchRoots(std::vector<std::string> roots);

// Path of root + "/" + folder + "/" + name in the first root that has it as a regular file, or
// the path in the first root when none has it (so a message can name where it was expected).
// folder may be empty for files directly in the root.
struct PresetLocation {
    bool found = false;
    std::string path;
};
PresetLocation FindPresetFile(const std::string& folder, const std::string& name);

// The documents of the "Instructions" menu, shipped beside the presets.
constexpr const char* kManualFile = "Corvane EvbSoftware user manual.pdf";
constexpr const char* kEqPictureFile = "CorvaneEQ.PNG";

// A document the menu opens by name: the file in the working directory when it is there (as the
// shell would resolve the bare name), else the copy shipped with the program (found like a
// preset directly in a root), else the working-directory path (opening it then does nothing).
std::string FindDocument(const std::string& name);

} // namespace evb
