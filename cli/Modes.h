// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The ways the program runs besides its window.

// Prints the options on standard output.
void PrintUsage();
// Prints the mixer model and exits with 0.
int RunListMixers();
// The recorder without any window until SIGINT or SIGTERM.
int RunHeadless(int argc, char** argv);
// Splits a WAV file into takes as the live recorder would have.
int RunReplay(int argc, char** argv);
// The page over the archive's bucket: every room and its takes.
int RunFleet(int argc, char** argv);
