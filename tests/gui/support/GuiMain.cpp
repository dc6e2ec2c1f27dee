// main() of the GUI test executables: the QApplication exists before any test runs. A test
// file that needs its own main() simply defines one (this object is then not linked).
#include "tests/gui/support/GuiHarness.h"

int main(int argc, char** argv) {
    TestApp();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
