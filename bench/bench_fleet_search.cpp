// SPDX-License-Identifier: GPL-3.0-or-later
// The fleet's search index at the size of 100 rooms x 365 days x 10 takes
// (365,000 takes, one in ten with a note): the time to write them all (as
// the first pass over the listing does, a page of 1,000 per transaction)
// and the answer to the page's searches.
#include <benchmark/benchmark.h>

#include <QDate>
#include <QJsonArray>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <memory>
#include <random>

#include "fleet/FleetIndex.h"

namespace {

constexpr int kRooms = 100, kDays = 365, kTakes = 10;

const char* const kWords[] = {"service", "sermon", "choir", "hearing", "witness", "rehearsal", "wedding",
                              "meeting", "lecture", "guest",  "speaker", "concert", "budget",   "主日礼拜"};

struct Filled {
    QTemporaryDir dir;
    std::unique_ptr<FleetIndex> index;
};

Filled& Index() {
    static Filled filled = [] {
        Filled f;
        f.index = std::make_unique<FleetIndex>(f.dir.filePath("index.sqlite"));
        QString error;
        if (!f.index->Open(&error)) std::fprintf(stderr, "%s\n", qUtf8Printable(error));
        std::mt19937 gen(29);
        const auto began = std::chrono::steady_clock::now();
        const QDate first(2025, 12, 1);
        int inPage = 0;
        f.index->BeginPass();
        f.index->Begin();
        for (int d = 0; d < kDays; ++d) {
            const QDate day = first.addDays(d);
            for (int r = 0; r < kRooms; ++r) {
                const QString room = QStringLiteral("room-%1").arg(r, 3, 10, QLatin1Char('0'));
                for (int t = 0; t < kTakes; ++t) {
                    const QString name = QStringLiteral("PLEN%1%2%3%4.flac")
                                             .arg(day.toString(QStringLiteral("yyyyMMdd")))
                                             .arg(8 + t, 2, 10, QLatin1Char('0'))
                                             .arg(r % 60, 2, 10, QLatin1Char('0'))
                                             .arg(0, 2, 10, QLatin1Char('0'));
                    const QString key = room + '/' + day.toString(QStringLiteral("yyyy/MM/dd/")) + name;
                    const QString start = day.toString(Qt::ISODate) +
                                          QStringLiteral("T%1:%2:00+01:00")
                                              .arg(8 + t, 2, 10, QLatin1Char('0'))
                                              .arg(r % 60, 2, 10, QLatin1Char('0'));
                    f.index->PutTake({key, room, name, start, 61.25, 2048});
                    if (gen() % 10 == 0) {
                        QString note;
                        for (int w = 0; w < 4; ++w) note += QString::fromUtf8(kWords[gen() % std::size(kWords)]) + ' ';
                        note += QStringLiteral("%1/%2").arg(day.day()).arg(day.month());
                        f.index->SetNote(key, note, QStringLiteral("\"e%1\"").arg(gen()));
                    }
                    if (++inPage == 1000) {
                        f.index->Commit();
                        f.index->Begin();
                        inPage = 0;
                    }
                }
            }
        }
        f.index->Commit();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        std::fprintf(stderr, "index of %lld takes written in %.1f s\n", static_cast<long long>(f.index->Count()),
                     seconds);
        return f;
    }();
    return filled;
}

void Search(benchmark::State& state, FleetIndex::Query query) {
    FleetIndex& index = *Index().index;
    size_t found = 0;
    for (auto _ : state) {
        QJsonArray takes;
        QString error;
        bool bad = false;
        if (!index.Search(query, &takes, &error, &bad)) state.SkipWithError(qUtf8Printable(error));
        found = static_cast<size_t>(takes.size());
        benchmark::DoNotOptimize(takes);
    }
    state.counters["answers"] = static_cast<double>(found);
}

QDateTime At(const char* text) { return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate); }

void BM_SearchNewest(benchmark::State& state) { Search(state, {}); }
void BM_SearchOneWord(benchmark::State& state) { Search(state, {QStringLiteral("witness"), {}, {}, {}, 200}); }
void BM_SearchTwoWords(benchmark::State& state) {
    Search(state, {QStringLiteral("guest choir"), {}, {}, {}, 200});
}
void BM_SearchShortWord(benchmark::State& state) { Search(state, {QStringLiteral("14"), {}, {}, {}, 200}); }
void BM_SearchChinese(benchmark::State& state) { Search(state, {QStringLiteral("主日礼拜"), {}, {}, {}, 200}); }
void BM_SearchRoomAndMonth(benchmark::State& state) {
    Search(state, {{}, QStringLiteral("room-042"), At("2026-03-01"), At("2026-04-01"), 200});
}
void BM_SearchWordRoomAndDay(benchmark::State& state) {
    Search(state, {QStringLiteral("sermon"), QStringLiteral("room-042"), At("2026-03-01T00:00:00Z"),
                   At("2026-03-02T00:00:00Z"), 200});
}
void BM_SearchHostile(benchmark::State& state) {
    Search(state, {QStringLiteral("\"NEAR(a b)\" * AND OR ((( %_ \\"), {}, {}, {}, 200});
}

}  // namespace

BENCHMARK(BM_SearchNewest)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchOneWord)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchTwoWords)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchShortWord)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchChinese)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchRoomAndMonth)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchWordRoomAndDay)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchHostile)->Unit(benchmark::kMillisecond);
