// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The store's settings for one request from the [Archive] configuration:
// the keys from config.ini or from the private credentials file, read anew
// each time so that an operator may fix them without a restart.
#include <QString>

#include "archive/ArchiveConfig.h"
#include "archive/S3Client.h"

// False with `error` when the configuration stops every request (see
// ArchiveConfig::problem) or the credentials file cannot be used.
bool S3SettingsFrom(const ArchiveConfig& config, S3Settings* settings, QString* error);
