// Bringing a device's session back after a failed transfer.
#include <noxb/BleModel.h>
#include <noxb/Exceptions.h>

#include <chrono>
#include <string>

#include "logging/log.h"
#include "systemclock.h"

namespace {

constexpr int kRecoveryAttempts = 6;
constexpr std::chrono::milliseconds kRecoveryPause{1000};

}  // namespace

// Every record of a recovery, its failures included, is an Info record.
#define LogRecovery(message) \
    NOXB_LOG(LogLevel::Info, kModuleBleString, "BleDevice::RecoveryConnection", message)

bool BleDevice::RecoveryConnection() {
    LogRecovery("Start Recovery Connection");
    for (int attempt = 0; attempt < kRecoveryAttempts; ++attempt) {
        LogRecovery("RefreshServices, attempt no. " + std::to_string(attempt) + " sleep for 1 sec");
        Pause(kRecoveryPause);
        try {
            RefreshServices();
            LogRecovery("Refresg services done, resend the data ");
            return true;
        } catch (...) {
            // Any failure of the refresh: reopen the session and try again.
        }
        LogRecovery("Failed to RefreshServices, attempt no. " + std::to_string(attempt));
        GATTSessionClose();
        try {
            GATTSessionEstablish();
            continue;
        } catch (const NoxBleProviderGeneralException&) {
            LogRecovery("GATTSessionEstablish failed, retry again");
        }
        try {
            GATTSessionEstablish();
        } catch (const NoxBleProviderGeneralException&) {
            LogRecovery("GATTSessionEstablish failed");
            return false;
        }
    }
    return false;
}
