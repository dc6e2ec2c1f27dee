#include "TempDir.h"
#include "console/PresetFiles.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace evb;

// The documents of the "Instructions" menu: the working folder's copy first, as the shell would
// open the bare name, then the copy shipped beside the presets.
TEST(DocumentLookup, WorkingFolderThenShippedCopyThenWorkingFolderPath) {
    struct Case {
        bool inWorkingFolder, shipped;
        const char* expected; // "cwd" or "shipped"
    };
    const Case cases[] = {{true, true, "cwd"}, {false, true, "shipped"}, {false, false, "cwd"}};
    const std::filesystem::path before = std::filesystem::current_path();
    for (const Case& c : cases) {
        TempDir cwd, root;
        std::filesystem::current_path(cwd.path);
        SetPresetSearchRoots({root.path.string()});
        if (c.inWorkingFolder) cwd.write(kManualFile, "%PDF-1.4\n");
        if (c.shipped) root.write(kManualFile, "%PDF-1.4\n");
        const std::filesystem::path expected =
            (std::string(c.expected) == "cwd" ? cwd.path : root.path) / kManualFile;
        EXPECT_EQ(FindDocument(kManualFile), expected.string())
            << "in working folder " << c.inWorkingFolder << ", shipped " << c.shipped;
        std::filesystem::current_path(before);
    }
    SetPresetSearchRoots({});
}
