// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the command-line modes share: lines on standard output and error,
// and the take lines.
#include <QString>

#include <cstdint>

#include "capture/Unit2.h"

// AppPath: the executable's folder, or the user's data folder for an
// installed program (see platform::ProgramDataFolder).
void SetProgramFolders();

// Before the Qt application of a mode without a window: a reader of
// standard output that goes away must not end the program (SIGPIPE is
// ignored), and Qt's own event dispatcher, lighter than the GLib one, runs
// the loop unless QT_NO_GLIB says otherwise.
void PrepareConsoleMode();

void PrintLine(const QString& line);
// "Somorabox: <message>" on standard error.
void Error(const QString& message);
// One line per take on standard output: "opened NAME", "kept NAME 12.5 s",
// "deleted NAME 4.1 s".
void PrintTake(TakeEvent event, const QString& fileName, int64_t frames, int32_t rate);
