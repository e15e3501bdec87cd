// SPDX-License-Identifier: GPL-3.0-or-later
#include "takes/StatusJson.h"

#include "takes/TakeName.h"

namespace takes {

namespace f = status_field;

QJsonObject RoomStatus::ToJson() const {
    QJsonObject a{{f::kState, archive.state},
                  {f::kDetail, archive.detail},
                  {f::kQueued, archive.queued},
                  {f::kQueuedBytes, archive.queuedBytes},
                  {f::kSetAside, archive.setAside}};
    if (!archive.oldest.isEmpty()) a.insert(f::kOldest, archive.oldest);
    QJsonObject o{{f::kHost, host},
                  {f::kMachine, machine},
                  {f::kPrefix, prefix},
                  {f::kVersion, version},
                  {f::kTime, time.toUTC().toString(Qt::ISODate)},
                  {f::kListening, listening},
                  {f::kRecording, recording},
                  {f::kInput, input},
                  {f::kDisk, disk},
                  {f::kArchive, a},
                  {f::kClipping, clipping}};
    if (!lastTake.isEmpty()) o.insert(f::kLastTake, QJsonObject{{f::kName, lastTake}, {f::kSeconds, lastTakeSeconds}});
    if (silentSince.isValid()) o.insert(f::kSilentSince, IsoWithOffset(silentSince));
    if (!hours.isEmpty())
        o.insert(f::kHours, QJsonObject{{f::kInside, insideHours},
                                     {f::kState, hours},
                                     {insideHours ? f::kUntil : f::kNext, IsoWithOffset(hoursChange)}});
    return o;
}

RoomStatus RoomStatus::FromJson(const QJsonObject& json) {
    const auto time = [](const QJsonValue& value) { return QDateTime::fromString(value.toString(), Qt::ISODate); };
    RoomStatus s;
    s.host = json.value(f::kHost).toString();
    s.machine = json.value(f::kMachine).toString();
    s.prefix = json.value(f::kPrefix).toString();
    s.version = json.value(f::kVersion).toString();
    s.time = time(json.value(f::kTime));
    s.listening = json.value(f::kListening).toBool();
    s.recording = json.value(f::kRecording).toBool();
    s.input = json.value(f::kInput).toString();
    s.disk = json.value(f::kDisk).toString();
    const QJsonObject a = json.value(f::kArchive).toObject();
    s.archive.state = a.value(f::kState).toString();
    s.archive.detail = a.value(f::kDetail).toString();
    s.archive.queued = a.value(f::kQueued).toInt();
    s.archive.queuedBytes = a.value(f::kQueuedBytes).toInteger();
    s.archive.setAside = a.value(f::kSetAside).toInt();
    s.archive.oldest = a.value(f::kOldest).toString();
    const QJsonObject last = json.value(f::kLastTake).toObject();
    s.lastTake = last.value(f::kName).toString();
    s.lastTakeSeconds = last.value(f::kSeconds).toDouble();
    s.clipping = json.value(f::kClipping).toBool();
    s.silentSince = time(json.value(f::kSilentSince));
    const QJsonObject hours = json.value(f::kHours).toObject();
    s.hours = hours.value(f::kState).toString();
    s.insideHours = hours.value(f::kInside).toBool(true);
    s.hoursChange = time(hours.value(s.insideHours ? f::kUntil : f::kNext));
    return s;
}

}  // namespace takes
