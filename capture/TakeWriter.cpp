// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/TakeWriter.h"

#include <chrono>
#include <cstring>

#include "capture/RecordingFile.h"
#include "capture/TakeStore.h"

namespace {
// Blocks that wait together for the writer travel in one buffer, up to this
// many.
constexpr int kBatchBytes = TakeWriter::kBatchBlocks * TakeWriter::kBlockBytes;
// Buffers kept for reuse once the queue has drained, so a disk that keeps up
// allocates nothing.
constexpr size_t kSpareBuffers = 8;
}  // namespace

TakeWriter::TakeWriter(int capacityBlocks, QObject* parent)
    : QObject(parent), capacity_(capacityBlocks > 0 ? capacityBlocks : 1) {
    thread_ = std::thread([this] { Run(); });
}

TakeWriter::~TakeWriter() {
    if (thread_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    // Whatever is still open is closed with its sizes patched.
    if (file_) CloseTake(false);
}

void TakeWriter::Begin(std::unique_ptr<platform::WritableFile> file) {
    if (takeOpen_) End();
    Command command;
    command.kind = Command::Open;
    command.file = std::move(file);
    takeOpen_ = true;
    Push(std::move(command));
}

QString TakeWriter::NameTake(const QString& folder, const QDateTime& start, const QString& taken) {
    if (store_ && store_->Folder() == folder) return store_->NameTake(start);
    return ChooseRecordingName(folder, start, taken);
}

void TakeWriter::BeginNew(const QString& path, int32_t sampleRate) {
    if (takeOpen_) End();
    Command command;
    command.kind = Command::Open;
    command.createPath = path;
    command.sampleRate = sampleRate;
    takeOpen_ = true;
    Push(std::move(command));
}

bool TakeWriter::Append(const void* block, int bytes) {
    if (!takeOpen_ || bytes <= 0 || bytes > kBlockBytes) return false;
    Command command;
    {
        std::unique_lock lock(mutex_);
        if (waitWhenFull_) room_.wait(lock, [this] { return queuedBlocks_ < capacity_; });
        if (queuedBlocks_ >= capacity_) {
            wasFull_ = true;
            return false;
        }
        ++queuedBlocks_;
        // While the writer is busy, blocks join the last one queued, so that
        // it takes them at once and is woken once for them all.
        if (!queue_.empty()) {
            Command& last = queue_.back();
            if (last.kind == Command::Block && last.blocks < kBatchBlocks) {
                std::memcpy(last.data.get() + last.bytes, block, static_cast<size_t>(bytes));
                last.sizes[last.blocks++] = bytes;
                last.bytes += bytes;
                return true;
            }
        }
        if (!spare_.empty()) {
            command.data = std::move(spare_.back());
            spare_.pop_back();
        }
    }
    if (!command.data) command.data = std::make_unique_for_overwrite<char[]>(kBatchBytes);
    std::memcpy(command.data.get(), block, static_cast<size_t>(bytes));
    command.bytes = bytes;
    command.sizes[0] = bytes;
    command.blocks = 1;
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(command));
        wake = writerWaiting_;
    }
    if (wake) wake_.notify_one();
    return true;
}

void TakeWriter::End(bool discard) {
    if (!takeOpen_) return;
    takeOpen_ = false;
    Command command;
    command.kind = Command::Close;
    command.discard = discard;
    Push(std::move(command));
}

void TakeWriter::Settle(const QString& path, bool remove) {
    Command command;
    command.kind = Command::Settle;
    command.createPath = path;
    command.discard = remove;
    Push(std::move(command));
}

void TakeWriter::WaitIdle() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return queue_.empty() && !busy_; });
}

bool TakeWriter::WaitIdleFor(int ms) {
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return queue_.empty() && !busy_; });
}

QString TakeWriter::TakeInHand() const {
    std::lock_guard lock(mutex_);
    return path_;
}

int TakeWriter::QueuedBlocks() const {
    std::lock_guard lock(mutex_);
    return queuedBlocks_;
}

bool TakeWriter::Behind() const {
    std::lock_guard lock(mutex_);
    return wasFull_;
}

void TakeWriter::Push(Command command) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(command));
    }
    wake_.notify_one();
}

void TakeWriter::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        while (!quit_ && queue_.empty()) {
            writerWaiting_ = true;
            wake_.wait(lock);
            writerWaiting_ = false;
        }
        if (queue_.empty()) break;  // quit with nothing left to do
        Command command = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
        lock.unlock();
        Execute(command);
        lock.lock();
        busy_ = false;
        if (command.kind == Command::Block) {
            queuedBlocks_ -= command.blocks;
            room_.notify_one();
            if (command.data && spare_.size() < kSpareBuffers) spare_.push_back(std::move(command.data));
        }
        if (queue_.empty()) {
            if (wasFull_) {
                wasFull_ = false;
                lock.unlock();
                emit caughtUp();
                lock.lock();
            }
            idle_.notify_all();
        }
    }
    idle_.notify_all();
}

void TakeWriter::Execute(Command& command) {
    switch (command.kind) {
        case Command::Open:
            if (file_) CloseTake(false);
            {
                std::lock_guard lock(mutex_);
                path_ = command.createPath;
            }
            file_ = std::move(command.file);
            failedReported_ = false;
            if (!command.createPath.isEmpty()) {
                file_ = OpenRecordingFile(2, 16, command.createPath, command.sampleRate);
                if (!file_) emit openFailed(command.createPath);
            }
            break;
        case Command::Block:
            // Each block is appended on its own, as it was handed over: a
            // write that fails loses that block only.
            for (int i = 0, at = 0; i < command.blocks; at += command.sizes[i++]) {
                const int bytes = command.sizes[i];
                if (file_ && file_->Append(command.data.get() + at, bytes) != bytes && !failedReported_) {
                    failedReported_ = true;
                    emit writeFailed(QStringLiteral("write failed"));
                }
            }
            break;
        case Command::Close:
            if (file_) CloseTake(command.discard);
            break;
        case Command::Settle:
            if (command.discard) {
                platform::Files* files = platform::Services().files;
                if (!files || !files->Remove(command.createPath))
                    emit fileProblem(QStringLiteral("short take not removed: %1")
                                         .arg(command.createPath.mid(command.createPath.lastIndexOf('/') + 1)));
            }
            emit closed(command.createPath);
            break;
    }
}

void TakeWriter::CloseTake(bool discard) {
    QString name;
    {
        std::lock_guard lock(mutex_);
        name = path_.mid(path_.lastIndexOf(QLatin1Char('/')) + 1);
    }
    if (discard) {
        // Removed while still locked: a reader waiting for the lock finds
        // the name gone, and cannot keep a short take alive.
        if (!file_->Discard()) emit fileProblem(QStringLiteral("short take not removed: %1").arg(name));
    } else if (!CloseRecordingFile(*file_)) {
        emit fileProblem(QStringLiteral("take may be cut: %1 (closing it failed)").arg(name));
    }
    file_.reset();
    QString path;
    {
        std::lock_guard lock(mutex_);
        path.swap(path_);
    }
    emit closed(path);
}
