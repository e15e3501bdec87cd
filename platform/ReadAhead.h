// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A file read ahead by a thread of its own into a bounded buffer, so that the
// thread that plays it only ever copies from memory. The thread opens the
// file, reads its head and reports it; once told how much to keep ahead, it
// reads on whenever there is room. The end of the file and a read error both
// end the stream. Reports are queued to the thread that made the reader.
#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>

namespace platform {

class ReadAhead : public QObject {
    Q_OBJECT
public:
    // Opens `path` through Services().files and reads its first `headBytes`
    // on the reader's thread; answered by `opened`.
    ReadAhead(const QString& path, int headBytes, QObject* parent = nullptr);
    // Never waits: a thread still in a read ends when the read returns.
    ~ReadAhead() override;

    // Starts reading on after the head, keeping up to `bytes` buffered.
    void Fill(int64_t bytes);

    // The next `size` bytes into `data` (fewer only at the end of the
    // stream). 0 at the end, -1 when they are not read yet: `more` follows
    // once they are.
    int64_t Take(void* data, int64_t size);
    // The whole file is read (or a read failed): nothing more will come.
    bool AtEnd() const;

signals:
    // `ok` false: the file could not be opened or is shorter than the head.
    void opened(bool ok, const QByteArray& head, qint64 fileBytes);
    void more();

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace platform
