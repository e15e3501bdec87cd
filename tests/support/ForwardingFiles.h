// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A Files double that hands every call to other files (usually the real
// ones of a test folder); a test's double derives from it and overrides only
// what it changes.
#include "platform/Platform.h"

namespace testing_support {

class ForwardingFiles : public platform::Files {
public:
    explicit ForwardingFiles(platform::Files& real) : real_(real) {}

    bool Exists(const QString& p) override { return real_.Exists(p); }
    bool MakePath(const QString& d) override { return real_.MakePath(d); }
    std::unique_ptr<platform::WritableFile> CreateNew(const QString& p) override { return real_.CreateNew(p); }
    std::unique_ptr<platform::ReadableFile> OpenRead(const QString& p) override { return real_.OpenRead(p); }
    bool Remove(const QString& p) override { return real_.Remove(p); }
    std::unique_ptr<platform::WritableFile> OpenToPatch(const QString& p) override { return real_.OpenToPatch(p); }
    int64_t FreeBytes(const QString& d) override { return real_.FreeBytes(d); }
    QList<platform::DirEntry> List(const QString& d, const QString& s) override { return real_.List(d, s); }
    bool WriteWhole(const QString& p, const QByteArray& bytes) override { return real_.WriteWhole(p, bytes); }
    QList<QString> ListNames(const QString& d, const QString& s) override { return real_.ListNames(d, s); }
    std::unique_ptr<platform::TakeReader> OpenTake(const QString& p, platform::TakeOpen* result) override {
        return real_.OpenTake(p, result);
    }
    int64_t ReadHead(const QString& p, void* data, int64_t size) override { return real_.ReadHead(p, data, size); }

protected:
    platform::Files& real_;
};

}  // namespace testing_support
