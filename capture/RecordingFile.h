// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Recording files: PCM WAV with the canonical 44-byte header, named after the
// local time at which the take started.
#include <QDateTime>
#include <QString>

#include <array>
#include <cstdint>
#include <memory>

#include "capture/WaveFile.h"
#include "platform/Platform.h"
#include "takes/TakeName.h"

// Largest number appended to a taken name ("-2" … "-999").
constexpr int kMaxNameSuffix = takes::kMaxSuffix;

// Creates `fileName` with the provisional header (RIFF size 36, data size 0)
// and keeps it locked against readers and deleters until it is closed. Never
// replaces an existing file. Null when the file cannot be created or its
// header cannot be written (a half-created file is removed again).
//
// Appending to the returned file always writes at the end of the data that
// was written in full, so a block cut short by a full disk is overwritten by
// the next block instead of shifting all later frames; what was appended is
// flushed to the disk at least once per two seconds of sound.
std::unique_ptr<platform::WritableFile> OpenRecordingFile(uint16_t channels, uint16_t bits,
                                                          const QString& fileName, int32_t sampleRate);

// Patches the two size fields from the file's real size, flushes and closes.
// False when any of the three failed (the take may then be cut).
bool CloseRecordingFile(platform::WritableFile& file);

// folder + the take's name (takes::MakeName): "PLEN" + yyyymmddhhmmss
// + ".wav"; with `suffix` ≥ 2, "-<suffix>" goes before ".wav".
QString RecordingFileName(const QString& folder, const QDateTime& start, int suffix = 1);

// Opens the recording of a take that starts at `start` under the first free
// name among PLEN<time>.wav, PLEN<time>-2.wav, … . `fileName` receives the
// name that was tried last. Null when no file could be created.
std::unique_ptr<platform::WritableFile> OpenNewRecording(const QString& folder, const QDateTime& start,
                                                         int32_t sampleRate, QString& fileName);

// The first name among PLEN<time>.wav, PLEN<time>-2.wav, … that no file has
// and that is not `taken`; empty when there is none.
QString ChooseRecordingName(const QString& folder, const QDateTime& start, const QString& taken);

// Sets the two size fields of every file in `folder` that starts with a
// canonical PCM header and was left by a take that was open when the program
// or the machine stopped: the provisional sizes (RIFF 36, data 0) on a file
// longer than its header, or a data size larger than what the file holds.
// Every other file (in use, another header, no regular file, sizes right or
// smaller than the file, as with a chunk after the sound) is not touched.
// Returns how many files were repaired.
int RepairRecordings(const QString& folder);
