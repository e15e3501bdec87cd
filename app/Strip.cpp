// SPDX-License-Identifier: GPL-3.0-or-later
// The recording strip: tiles, scrolling, selection, history menu, play, delete.
//
// The strip bitmap Image103 holds every tile side by side; PaintBox1 shows the
// 427-pixel window of it that starts at ScrollPos. At rest the tiles of the
// seven visible slots are real controls lying over that picture; while the
// view scrolls they are hidden and the animation shows the bitmap alone.
#include <QAction>
#include <QActionGroup>
#include <QFont>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "app/Strip.h"

#include "capture/TakeStore.h"
#include "session/RecorderSession.h"
#include "session/RecordingAge.h"
#include "app/Unit1.h"
#include "platform/Platform.h"
#include "session/RecorderSession.h"
#include "settings/publicunit.h"

namespace {

constexpr int kPitch = RecordingStrip::kTilePitch;  // tile width 56 + 5
constexpr int kViewLeft = 112;
constexpr int kViewTop = 141;
constexpr int kViewWidth = 7 * kPitch;      // 427
constexpr int kViewHeight = 73;
constexpr int kTileTop = kViewTop + 10;     // 151
constexpr int kMarkerTop = kViewTop + 6;    // 147
constexpr int kTileWidth = 56;
constexpr int kTileHeight = 55;
const QColor kStripBack(84, 125, 141);

// "&" in a menu text marks a shortcut letter; file names show as they are.
QString MenuText(const QString& name) {
    QString text = name;
    return text.replace(QLatin1Char('&'), QLatin1String("&&"));
}

}  // namespace

RecordingStrip::RecordingStrip(TForm1& form) : form_(form) {}

RecordingStrip::~RecordingStrip() = default;

void RecordingStrip::SetUpStripViewport() {
    // The viewport lies beneath the tiles and the marker; presses on its
    // gaps fall through to the window, where they drag it like the skin.
    form_.PaintBox1->setAttribute(Qt::WA_TransparentForMouseEvents);
    form_.PaintBox1->setAttribute(Qt::WA_OpaquePaintEvent);
    form_.PaintBox1->OnPaint = [this](QPainter& p) {
        const QImage& strip = form_.Image103->Picture();
        p.drawImage(QRect(0, 0, form_.PaintBox1->width(), form_.PaintBox1->height()), strip,
                    QRect(ScrollPos, 0, kViewWidth, kViewHeight));
    };
    form_.PaintBox1->show();
}

void RecordingStrip::UseStore(TakeStore* store) {
    if (Store) disconnect(Store, nullptr, this, nullptr);
    Store = store;
    if (Store) connect(Store, &TakeStore::listed, this, &RecordingStrip::ShowTakes);
}

void RecordingStrip::RebuildStrip() {
    if (!Store) {
        ownStore_ = std::make_unique<TakeStore>(RecordFolder());
        UseStore(ownStore_.get());
        ownStore_->Repair();
    }
    // A session's store cleans up by the session's settings; the window's
    // own one by the settings as they are.
    if (Store == ownStore_.get())
        ownStore_->SetPolicy({.expireAfterDay = AppSettings.ManageFile, .keepFreeMB = AppSettings.KeepFreeMB,
                               .archiveConfigured = false,
                               .archived = {}});
    stripAsked_ = true;
    Store->Refresh();
}

void RecordingStrip::ShowTakes(const QList<TakeInfo>& takes) {
    // Listings the store makes for its own clean-up leave the strip alone.
    if (!stripAsked_) return;
    stripAsked_ = false;
    // 1. Forget the old entries and their tiles.
    for (TRecordingEntry& entry : Recordings) delete entry.Tile;
    Recordings.clear();

    // 2. Empty strip.
    QImage& strip = form_.Image103->Canvas();
    strip.fill(kStripBack);

    // 3. The store's listing, after its 24-hour clean-up.
    struct Found {
        QString name;
        QDateTime time;
        bool held;
    };
    std::vector<Found> found;
    for (const TakeInfo& take : takes) found.push_back({take.name, ToTwoSeconds(take.lastWrite), take.held});

    // 4. Oldest first; equal times keep the listing's order. Of a folder
    // with more recordings than the strip holds, the newest are kept.
    std::stable_sort(found.begin(), found.end(),
                     [](const Found& a, const Found& b) { return WallMs(a.time) < WallMs(b.time); });
    if (found.size() > static_cast<size_t>(kMaxRecordings))
        found.erase(found.begin(), found.end() - kMaxRecordings);

    // 5. One tile per entry, copied into the strip bitmap too.
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(13);  // 10 points at 96 dots per inch
    font.setBold(true);
    const QFontMetrics metrics(font);
    QPainter stripPainter(&strip);
    for (int i = 0; i < static_cast<int>(found.size()); ++i) {
        const Found& f = found[static_cast<size_t>(i)];
        auto* tile = new TImage(&form_, QStringLiteral("Tile%1").arg(i));
        tile->SetBounds(kViewLeft + kPitch * i, kTileTop, kTileWidth, kTileHeight);
        tile->hide();
        tile->stackUnder(form_.Image111);

        const QString text = f.time.isValid() ? f.time.toString(QStringLiteral("HH:mm")) : QString();
        QImage picture = form_.Image102->Picture().convertToFormat(QImage::Format_RGB32);
        {
            QPainter p(&picture);
            p.setFont(font);
            const int y = kTileHeight - 25;
            p.fillRect(QRect(0, y, metrics.horizontalAdvance(text), metrics.height()), Qt::white);
            p.setPen(QColor(255, 153, 0));
            p.drawText(0, y + metrics.ascent(), text);
            if (f.held) {
                // A held take: a small flag in the top right corner.
                p.fillRect(QRect(kTileWidth - 12, 2, 2, 12), Qt::white);
                p.fillRect(QRect(kTileWidth - 10, 2, 7, 6), QColor(241, 196, 15));
            }
        }
        tile->SetPicture(picture);
        tile->SetHint(f.name);
        tile->setAccessibleName(text);
        tile->SetHandPointer(true);
        connect(tile, &TImage::clicked, this, [this, tile] { TileClick(tile); });

        stripPainter.drawImage(QPoint(kPitch * i, 10), picture, QRect(0, 0, 55, 54));
        Recordings.append({f.name, f.time, tile});
    }
    stripPainter.end();
    form_.Image103->Changed();

    // A shorter list than before: the selection goes to the last recording,
    // and the view follows it when it now lies outside.
    const int count = static_cast<int>(Recordings.size());
    if (Selected >= count || Selected < 0) {
        Selected = std::max(0, count - 1);
        const int r = kPitch * Selected - ScrollTarget;
        if (r < 0 || r >= kViewWidth) {
            ScrollTarget = kPitch * std::max(0, Selected - 6);
            ScrollPos = ScrollTarget;
            form_.Timer3->stop();
        }
    }

    // 6.
    ShowVisibleTiles();
    form_.PaintBox1->update();

    // 7. A fresh marker over the selected tile.
    delete Marker;
    Marker = new TImage(&form_, QStringLiteral("Marker"));
    Marker->SetBounds(kViewLeft + kPitch * Selected - ScrollTarget + 5, kMarkerTop, form_.Image104->width(),
                      form_.Image104->height());
    Marker->SetPicture(form_.Image104->Picture());
    Marker->SetTransparent(true);
    Marker->setAttribute(Qt::WA_TransparentForMouseEvents);
    Marker->stackUnder(form_.Image111);
    Marker->setVisible(count > 0);

    // 8. The history menu, one radio entry per recording.
    for (QActionGroup* old : form_.PopupMenu1->findChildren<QActionGroup*>(Qt::FindDirectChildrenOnly)) delete old;
    form_.PopupMenu1->clear();
    auto* group = new QActionGroup(form_.PopupMenu1);
    group->setExclusive(true);
    for (int i = 0; i < count; ++i) {
        auto* action = new QAction(MenuText(Recordings[i].Name), group);
        action->setCheckable(true);
        action->setData(i);
        connect(action, &QAction::triggered, this, [this, action] { HistoryItemClick(action); });
        form_.PopupMenu1->addAction(action);
    }
    if (count > 0) form_.PopupMenu1->actions().at(Selected)->setChecked(true);
}

void RecordingStrip::ShowVisibleTiles() {
    const int first = ScrollTarget / kPitch;
    for (int k = 0; k < 7; ++k) {
        const int i = first + k;
        if (i < 0 || i >= Recordings.size()) continue;
        TImage* tile = Recordings[i].Tile;
        tile->move(kViewLeft + kPitch * k, kTileTop);
        tile->show();
    }
}

namespace {

void CheckMenuEntry(QMenu* menu, int index) {
    const QList<QAction*> actions = menu->actions();
    if (index >= 0 && index < actions.size()) actions.at(index)->setChecked(true);
}

// Switching on a timer that already runs leaves its ticks where they were.
void Enable(QTimer* timer) {
    if (!timer->isActive()) timer->start();
}

}  // namespace

void RecordingStrip::RefreshAfterSettings() {
    RebuildStrip();
    if (kPitch * Selected >= kViewWidth + ScrollTarget)
        Selected = static_cast<int32_t>(std::nearbyint((kViewWidth + ScrollTarget - kPitch) / double(kPitch)));
    if (Marker) Marker->move(kViewLeft + kPitch * Selected - ScrollTarget + 5, kMarkerTop);
    if (!form_.PopupMenu1->actions().isEmpty()) CheckMenuEntry(form_.PopupMenu1, Selected);
}

void RecordingStrip::ScrollBack() {
    if (ScrollTarget - kPitch < 0) return;
    ScrollTarget -= kPitch;
    for (TRecordingEntry& entry : Recordings) entry.Tile->hide();
    Enable(form_.Timer3);
}

void RecordingStrip::ScrollOn() {
    const int32_t next = ScrollTarget + kPitch;
    if (next > (static_cast<int32_t>(Recordings.size()) + 1) * kPitch - kViewWidth) return;
    ScrollTarget = next;
    for (TRecordingEntry& entry : Recordings) entry.Tile->hide();
    Enable(form_.Timer3);
}

void RecordingStrip::ScrollStep() {
    const int direction = ScrollPos <= ScrollTarget ? 1 : -1;
    // Painted now, before the step: each tick shows the place it started from.
    form_.PaintBox1->repaint();
    const int32_t d = std::abs(ScrollPos - ScrollTarget);
    if (d >= 2) {
        ScrollPos += static_cast<int32_t>(std::nearbyint(d * 0.6)) * direction;
        return;
    }
    ScrollPos = ScrollTarget;
    form_.PaintBox1->repaint();
    form_.Timer3->stop();
    ShowVisibleTiles();
    if (kPitch * Selected < ScrollTarget) Selected = ScrollTarget / kPitch;
    if (kPitch * Selected >= kViewWidth + ScrollTarget) Selected = (kViewWidth + ScrollTarget - kPitch) / kPitch;
    CheckMenuEntry(form_.PopupMenu1, Selected);
    if (Marker) {
        Marker->move(kViewLeft + kPitch * Selected - ScrollTarget + 5, kMarkerTop);
        Marker->update();
    }
}

void RecordingStrip::TileClick(TImage* tile) {
    int index = -1;
    for (int i = 0; i < Recordings.size(); ++i)
        if (Recordings[i].Tile == tile) index = i;
    if (index < 0) return;
    Selected = index;
    if (Marker) Marker->move(kViewLeft + kPitch * Selected - ScrollTarget + 5, kMarkerTop);
    CheckMenuEntry(form_.PopupMenu1, Selected);
}

void RecordingStrip::HistoryItemClick(QAction* entry) {
    if (!entry) return;
    const int index = entry->data().toInt();
    if (index < 0 || index >= Recordings.size()) return;
    entry->setChecked(true);
    if (Playing) {
        if (form_.Session) form_.Session->StopPlayback();
        Enable(form_.Timer7);
    }
    Selected = index;
    const int32_t r = kPitch * Selected - ScrollTarget;
    if (r >= kViewWidth || r < 0) {
        ScrollTarget = kPitch * Selected;
        for (TRecordingEntry& e : Recordings) e.Tile->hide();
        Enable(form_.Timer3);
    }
    TileClick(Recordings[Selected].Tile);
}

void RecordingStrip::SelectNext() {
    if (Selected >= Recordings.size() - 1) return;
    if (Playing) {
        if (form_.Session) form_.Session->StopPlayback();
        Enable(form_.Timer7);
    }
    Selected += 1;
    if (kPitch * Selected - ScrollTarget >= kViewWidth) ScrollOn();
    TileClick(Recordings[Selected].Tile);
}

void RecordingStrip::SelectPrevious() {
    if (Selected <= 0 || Recordings.isEmpty()) return;
    if (Playing) {
        if (form_.Session) form_.Session->StopPlayback();
        Enable(form_.Timer7);
    }
    Selected = std::min<int32_t>(Selected, static_cast<int32_t>(Recordings.size())) - 1;
    if (kPitch * Selected - ScrollTarget < 0) ScrollBack();
    TileClick(Recordings[Selected].Tile);
}

void RecordingStrip::ShowHistoryMenu() {
    form_.PopupMenu1->popup(form_.Image16->mapToGlobal(QPoint(form_.Image16->width(), form_.Image16->height())));
}

void RecordingStrip::PlaySelection() {
    if (Recordings.isEmpty() || Selected < 0 || Selected >= Recordings.size()) return;
    const QString path = RecordFolder() + Recordings[Selected].Name;
    WaveBackColor = RGB(0, 204, 255);
    if (PlayRequested) {
        PlayRequested(path, form_.PaintBox2);
    } else if (form_.Session) {
        form_.Session->PlayTake(path, form_.PaintBox2);
    }
}

void RecordingStrip::PlayAfterSwitch() {
    if (Playing) return;
    form_.Timer7->stop();
    PlaySelection();
}

void RecordingStrip::DeleteSelection() {
    const int count = static_cast<int>(Recordings.size());
    if (count == 0) return;
    if (Selected < 0 || Selected >= count) Selected = count - 1;
    // The store deletes it (not while it is being written) and lists again.
    if (!Store) RebuildStrip();
    stripAsked_ = true;
    Store->Delete(Recordings[Selected].Name);
    if (count >= 2 && Selected == count - 1) {
        Selected -= 1;
        if (kPitch * Selected - ScrollTarget < 0) {
            ScrollTarget -= kPitch;
            // No animation: the viewport's picture jumps along with the tiles.
            if (!form_.Timer3->isActive()) ScrollPos = ScrollTarget;
        }
    }
}
