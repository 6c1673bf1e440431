#pragma once

// Runs the program's command line; returns the exit status: 1 when a command fails (its message on
// standard error), 2 for a usage error.
int runCommandLine(int argc, char** argv);
