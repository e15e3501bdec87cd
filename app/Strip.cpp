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

#include "session/RecorderSession.h"
#include "session/RecordingAge.h"
#include "app/Unit1.h"
#include "platform/Platform.h"
#include "session/RecorderSession.h"
#include "settings/publicunit.h"

namespace {

constexpr int kPitch = TForm1::kTilePitch;  // tile width 56 + 5
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

void TForm1::SetUpStripViewport() {
    // The viewport lies beneath the tiles and the marker; presses on its
    // gaps fall through to the window, where they drag it like the skin.
    PaintBox1->setAttribute(Qt::WA_TransparentForMouseEvents);
    PaintBox1->setAttribute(Qt::WA_OpaquePaintEvent);
    PaintBox1->OnPaint = [this](QPainter& p) {
        const QImage& strip = Image103->Picture();
        p.drawImage(QRect(0, 0, PaintBox1->width(), PaintBox1->height()), strip,
                    QRect(ScrollPos, 0, kViewWidth, kViewHeight));
    };
    PaintBox1->show();
}

void TForm1::RebuildStrip() {
    // 1. Forget the old entries and their tiles.
    for (TRecordingEntry& entry : Recordings) delete entry.Tile;
    Recordings.clear();

    // 2. Empty strip.
    QImage& strip = Image103->Canvas();
    strip.fill(kStripBack);

    // 3. List the folder; the 24-hour clean-up drops old recordings on the way.
    platform::Files& files = *platform::Services().files;
    const QString folder = AppPath + "record/";
    const qint64 now = WallMs(platform::Services().clock->LocalNow());
    struct Found {
        QString name;
        QDateTime time;
    };
    std::vector<Found> found;
    for (const platform::DirEntry& file : files.List(folder, QStringLiteral(".wav"))) {
        const QDateTime time = ToTwoSeconds(file.lastWrite);
        if (AppSettings.ManageFile && RecordingExpired(file.name, file.lastWrite, now) &&
            !(Session && Session->KeepForArchive(file.name))) {
            files.Remove(folder + file.name);  // a file that stays is simply not listed now
            continue;
        }
        found.push_back({file.name, time});
    }

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
        auto* tile = new TImage(this, QStringLiteral("Tile%1").arg(i));
        tile->SetBounds(kViewLeft + kPitch * i, kTileTop, kTileWidth, kTileHeight);
        tile->hide();
        tile->stackUnder(Image111);

        const QString text = f.time.isValid() ? f.time.toString(QStringLiteral("HH:mm")) : QString();
        QImage picture = Image102->Picture().convertToFormat(QImage::Format_RGB32);
        {
            QPainter p(&picture);
            p.setFont(font);
            const int y = kTileHeight - 25;
            p.fillRect(QRect(0, y, metrics.horizontalAdvance(text), metrics.height()), Qt::white);
            p.setPen(QColor(255, 153, 0));
            p.drawText(0, y + metrics.ascent(), text);
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
    Image103->Changed();

    // A shorter list than before: the selection goes to the last recording,
    // and the view follows it when it now lies outside.
    const int count = static_cast<int>(Recordings.size());
    if (Selected >= count || Selected < 0) {
        Selected = std::max(0, count - 1);
        const int r = kPitch * Selected - ScrollTarget;
        if (r < 0 || r >= kViewWidth) {
            ScrollTarget = kPitch * std::max(0, Selected - 6);
            ScrollPos = ScrollTarget;
            Timer3->stop();
        }
    }

    // 6.
    ShowVisibleTiles();
    PaintBox1->update();

    // 7. A fresh marker over the selected tile.
    delete Marker;
    Marker = new TImage(this, QStringLiteral("Marker"));
    Marker->SetBounds(kViewLeft + kPitch * Selected - ScrollTarget + 5, kMarkerTop, Image104->width(),
                      Image104->height());
    Marker->SetPicture(Image104->Picture());
    Marker->SetTransparent(true);
    Marker->setAttribute(Qt::WA_TransparentForMouseEvents);
    Marker->stackUnder(Image111);
    Marker->setVisible(count > 0);

    // 8. The history menu, one radio entry per recording.
    for (QActionGroup* old : PopupMenu1->findChildren<QActionGroup*>(Qt::FindDirectChildrenOnly)) delete old;
    PopupMenu1->clear();
    auto* group = new QActionGroup(PopupMenu1);
    group->setExclusive(true);
    for (int i = 0; i < count; ++i) {
        auto* action = new QAction(MenuText(Recordings[i].Name), group);
        action->setCheckable(true);
        action->setData(i);
        connect(action, &QAction::triggered, this, [this, action] { HistoryItemClick(action); });
        PopupMenu1->addAction(action);
    }
    if (count > 0) PopupMenu1->actions().at(Selected)->setChecked(true);
}

void TForm1::ShowVisibleTiles() {
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

void TForm1::RefreshAfterSettings() {
    RebuildStrip();
    if (kPitch * Selected >= kViewWidth + ScrollTarget)
        Selected = static_cast<int32_t>(std::nearbyint((kViewWidth + ScrollTarget - kPitch) / double(kPitch)));
    if (Marker) Marker->move(kViewLeft + kPitch * Selected - ScrollTarget + 5, kMarkerTop);
    if (!PopupMenu1->actions().isEmpty()) CheckMenuEntry(PopupMenu1, Selected);
}

void TForm1::Image3Click() {
    if (ScrollTarget - kPitch < 0) return;
    ScrollTarget -= kPitch;
    for (TRecordingEntry& entry : Recordings) entry.Tile->hide();
    Enable(Timer3);
}

void TForm1::Image4Click() {
    const int32_t next = ScrollTarget + kPitch;
    if (next > (static_cast<int32_t>(Recordings.size()) + 1) * kPitch - kViewWidth) return;
    ScrollTarget = next;
    for (TRecordingEntry& entry : Recordings) entry.Tile->hide();
    Enable(Timer3);
}

void TForm1::Timer3Timer() {
    const int direction = ScrollPos <= ScrollTarget ? 1 : -1;
    // Painted now, before the step: each tick shows the place it started from.
    PaintBox1->repaint();
    const int32_t d = std::abs(ScrollPos - ScrollTarget);
    if (d >= 2) {
        ScrollPos += static_cast<int32_t>(std::nearbyint(d * 0.6)) * direction;
        return;
    }
    ScrollPos = ScrollTarget;
    PaintBox1->repaint();
    Timer3->stop();
    ShowVisibleTiles();
    if (kPitch * Selected < ScrollTarget) Selected = ScrollTarget / kPitch;
    if (kPitch * Selected >= kViewWidth + ScrollTarget) Selected = (kViewWidth + ScrollTarget - kPitch) / kPitch;
    CheckMenuEntry(PopupMenu1, Selected);
    if (Marker) {
        Marker->move(kViewLeft + kPitch * Selected - ScrollTarget + 5, kMarkerTop);
        Marker->update();
    }
}

void TForm1::TileClick(TImage* tile) {
    int index = -1;
    for (int i = 0; i < Recordings.size(); ++i)
        if (Recordings[i].Tile == tile) index = i;
    if (index < 0) return;
    Selected = index;
    if (Marker) Marker->move(kViewLeft + kPitch * Selected - ScrollTarget + 5, kMarkerTop);
    CheckMenuEntry(PopupMenu1, Selected);
}

void TForm1::HistoryItemClick(QAction* entry) {
    if (!entry) return;
    const int index = entry->data().toInt();
    if (index < 0 || index >= Recordings.size()) return;
    entry->setChecked(true);
    if (Playing) {
        if (Session) Session->StopPlayback();
        Enable(Timer7);
    }
    Selected = index;
    const int32_t r = kPitch * Selected - ScrollTarget;
    if (r >= kViewWidth || r < 0) {
        ScrollTarget = kPitch * Selected;
        for (TRecordingEntry& e : Recordings) e.Tile->hide();
        Enable(Timer3);
    }
    TileClick(Recordings[Selected].Tile);
}

void TForm1::Image12Click() {
    if (Selected >= Recordings.size() - 1) return;
    if (Playing) {
        if (Session) Session->StopPlayback();
        Enable(Timer7);
    }
    Selected += 1;
    if (kPitch * Selected - ScrollTarget >= kViewWidth) Image4Click();
    TileClick(Recordings[Selected].Tile);
}

void TForm1::Image11Click() {
    if (Selected <= 0 || Recordings.isEmpty()) return;
    if (Playing) {
        if (Session) Session->StopPlayback();
        Enable(Timer7);
    }
    Selected = std::min<int32_t>(Selected, static_cast<int32_t>(Recordings.size())) - 1;
    if (kPitch * Selected - ScrollTarget < 0) Image3Click();
    TileClick(Recordings[Selected].Tile);
}

void TForm1::Image16Click() {
    PopupMenu1->popup(Image16->mapToGlobal(QPoint(Image16->width(), Image16->height())));
}

void TForm1::PlaySelection() {
    if (Recordings.isEmpty() || Selected < 0 || Selected >= Recordings.size()) return;
    const QString path = AppPath + "record/" + Recordings[Selected].Name;
    WaveBackColor = RGB(0, 204, 255);
    if (PlayRequested) {
        PlayRequested(path, PaintBox2);
    } else if (Session) {
        Session->PlayTake(path, PaintBox2);
    }
}

void TForm1::Image6Click() { PlaySelection(); }

void TForm1::Timer7Timer() {
    if (Playing) return;
    Timer7->stop();
    PlaySelection();
}

void TForm1::Image8Click() {
    const int count = static_cast<int>(Recordings.size());
    if (count == 0) return;
    if (Selected < 0 || Selected >= count) Selected = count - 1;
    platform::Services().files->Remove(AppPath + "record/" + Recordings[Selected].Name);
    if (count >= 2 && Selected == count - 1) {
        Selected -= 1;
        if (kPitch * Selected - ScrollTarget < 0) {
            ScrollTarget -= kPitch;
            // No animation: the viewport's picture jumps along with the tiles.
            if (!Timer3->isActive()) ScrollPos = ScrollTarget;
        }
    }
    RebuildStrip();
}
