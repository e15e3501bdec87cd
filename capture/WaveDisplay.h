// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where an engine draws the waveform of a block: the main window's waveform box.
#include <QPoint>

#include "settings/publicunit.h"

class WaveDisplay {
public:
    virtual ~WaveDisplay() = default;
    virtual int DisplayWidth() const = 0;
    virtual int DisplayHeight() const = 0;
    // Fills the box with `back` and draws one polyline through `points` in `pen`.
    virtual void ShowWave(const QPoint* points, int count, TColor back, TColor pen) = 0;
};
