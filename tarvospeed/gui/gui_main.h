// The windowed program: the entry sequence with its forms.
#pragma once

namespace tarvospeed {

// Runs the windows over `core` (already created) until the program ends;
// the exit code.
int run_gui(class TSpeedCore& core, int argc, char** argv);

}  // namespace tarvospeed
