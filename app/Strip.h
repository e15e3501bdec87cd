// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The recording strip of the main window: the listing from the take store,
// the tiles, scrolling, the selection and its marker, the history menu, play
// and delete of the selection.
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class QAction;
class TForm1;
class TImage;
class TakeStore;
class WaveDisplay;
struct TakeInfo;

// One recording listed by the strip.
struct TRecordingEntry {
    QString Name;     // file name without folder
    QDateTime Time;   // last-write time, local, to two seconds
    TImage* Tile = nullptr;
};

class RecordingStrip : public QObject {
    Q_OBJECT
public:
    static constexpr int kTilePitch = 61;
    static constexpr int kMaxRecordings = 250;

    // Works on the window's controls; the tiles and the marker are the
    // window's children and go with it.
    explicit RecordingStrip(TForm1& form);
    ~RecordingStrip() override;

    QList<TRecordingEntry> Recordings;
    int32_t ScrollPos = 0;
    int32_t ScrollTarget = 0;
    int32_t Selected = 0;
    TImage* Marker = nullptr;

    // RebuildStrip asks the take store for a listing (and its clean-up); the
    // strip is built when the listing comes back.
    void RebuildStrip();
    void ShowTakes(const QList<TakeInfo>& takes);
    // True from a RebuildStrip or a delete until its listing is shown.
    bool StripPending() const { return stripAsked_; }
    // The store whose listings the strip shows; without one, the strip
    // makes its own over RecordFolder().
    TakeStore* Store = nullptr;
    void UseStore(TakeStore* store);
    void RefreshAfterSettings();
    void ShowVisibleTiles();
    void TileClick(TImage* tile);
    void HistoryItemClick(QAction* entry);
    void PlaySelection();
    // Shows the viewport over the strip bitmap.
    void SetUpStripViewport();
    // Where PlaySelection hands the full path of the selection and the
    // display that shows it; when empty, the session plays it.
    std::function<void(const QString& path, WaveDisplay* display)> PlayRequested;

    // The window's commands and timers that work on the strip.
    void ScrollBack();       // one tile back, animated
    void ScrollOn();         // one tile on, animated
    void ScrollStep();       // one step of the scroll animation
    void SelectPrevious();
    void SelectNext();
    void ShowHistoryMenu();
    void PlayAfterSwitch();  // plays the selection once playback has stopped
    void DeleteSelection();

private:
    TForm1& form_;
    std::unique_ptr<TakeStore> ownStore_;
    bool stripAsked_ = false;
};
