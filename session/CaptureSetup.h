// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The index of the line-input entry of RecordingSources, 0 when none.
int FindLineInSource();
