#include "platform/Defaults.h"

namespace platform {

QDateTime SystemClock::LocalNow() { return QDateTime::currentDateTime(); }

}  // namespace platform
