#pragma once
// Creates the program's start-up windows as main does; GUI tests use the same function so they
// drive exactly the program's windows.

#include "app/Tmainfrm.h"

#include <memory>

namespace evbsim {
class SimBoard;
}

struct AppInstance {
    std::unique_ptr<evbsim::SimBoard> sim; // --simulate: the in-process board (created first)
    std::unique_ptr<Tmainfrm> main;
    ~AppInstance();
};

struct AppConfig {
    StartOptions start;
    bool simulate = false;     // start an in-process simulated board and keep its port open
    bool simulatePace = true;  // pace the simulated board to the baud rate
};

// Creates the main window and the S/PDIF window (both shown; the main window creates the others
// when they are first needed; the main window builds the board session), sets the application
// font (with the face that carries the full-width colon as its second family), and runs the main window's FormCreate. Errors of FormCreate (a port that cannot be
// opened) are shown as the program shows them and do not abort.
std::unique_ptr<AppInstance> CreateApplicationWindows(const AppConfig& config);

// The look of a dark desktop theme, for screenshots and tests: the Fusion style with a dark
// palette whose 3D shades (light, midlight, mid, dark, shadow) follow its button colour, as a
// real dark theme's do, so frames and bevels are drawn in greys and never in white.
void UseDarkPalette();
