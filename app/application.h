#pragma once

#include <windows.h>

namespace quenvar::app {

// The whole run of Quenvar: creates Form1 and shows it, runs the message loop until Form1 is
// closed, then releases it. Returns the program's exit code. Reads no arguments, environment,
// registry or files.
int runQuenvar(HINSTANCE instance, int showCommand);

}  // namespace quenvar::app
