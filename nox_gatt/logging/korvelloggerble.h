#ifndef NOXB_LOGGING_KORVELLOGGERBLE_H
#define NOXB_LOGGING_KORVELLOGGERBLE_H

#include "korvellogger.h"

// The event-trace logger: the module's one diagnostic channel.
class KorvelLoggerBle final : public KorvelLogger {
  public:
    // Registers the trace provider on first use; the instance is destroyed,
    // and the provider unregistered, when the module unloads.
    static KorvelLogger* Instance();

    ~KorvelLoggerBle() override;
    void Write(const LogRecord& record) override;

  private:
    KorvelLoggerBle();
};

#endif  // NOXB_LOGGING_KORVELLOGGERBLE_H
