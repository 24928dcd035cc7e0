#include "korvelloggerble.h"

#include "eventprovider.h"

KorvelLogger* KorvelLoggerBle::Instance() {
    // The run time's thread-safe static initialisation registers exactly once.
    static KorvelLoggerBle instance;
    return &instance;
}

KorvelLoggerBle::KorvelLoggerBle() { RegisterEventProvider(); }

KorvelLoggerBle::~KorvelLoggerBle() { UnregisterEventProvider(); }

void KorvelLoggerBle::Write(const LogRecord& record) {
    const int event = EventIndexOf(record.level);
    if (event < 0 || !IsEventEnabled(event)) {
        return;
    }
    WriteTraceEvent(event, record);
}
