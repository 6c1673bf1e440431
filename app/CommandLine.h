#pragma once

// Runs the program's command line; returns the exit status (2 for a usage error).
int runCommandLine(int argc, char** argv);
