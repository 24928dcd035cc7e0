#include "lestackapi.h"

#include <leapi/leapi.h>
#include <noxb/BleModel.h>

#include <chrono>

#include "bleexception.h"
#include "systemclock.h"

namespace {

constexpr std::int64_t kStartRetryWindowTicks = 6LL * 10000000;  // 6 s
constexpr std::chrono::milliseconds kStartRetryPause{100};
constexpr std::uint8_t kSignalFilterFlag = 0x01;
constexpr int kWeakestRssi = -90;

// Miscellaneous devices, uncategorised minor classes, hand-held, palm-size
// and tablet computers, cellular phones and smartphones.
bool PassesClassFilter(std::uint8_t major, std::uint8_t minor) {
    if (major == 0 || minor == 0) return true;
    if (major == 1) return minor == 16 || minor == 20 || minor == 28;
    if (major == 2) return minor == 4 || minor == 12;
    return false;
}

}  // namespace

LeStackApi::LeStackApi(IBleGattEvents* sink, void* context)
    : eventSink(sink), eventContext(context) {}

std::vector<std::shared_ptr<BleDevice>> LeStackApi::DevicesDiscovery(std::uint8_t flags,
                                                                     std::uint8_t durationSeconds) {
    const std::int64_t t0 = SystemTimeTicks();
    std::uint64_t handle{};
    std::uint32_t code = LEAPI_DevicesDiscoveryStart(durationSeconds, flags, &handle);
    // A busy radio is the one answer worth waiting for.
    while (code == LEAPI_ERROR_BUSY && SystemTimeTicks() - t0 < kStartRetryWindowTicks) {
        Pause(kStartRetryPause);
        code = LEAPI_DevicesDiscoveryStart(durationSeconds, flags, &handle);
    }
    if (code != LEAPI_SUCCESS) return {};

    std::vector<std::shared_ptr<BleDevice>> found;
    LeDeviceRecord record;
    while (LEAPI_DevicesDiscoveryGetNext(handle, &record) == LEAPI_SUCCESS) {
        if (!PassesClassFilter(record.majorClass, record.minorClass)) continue;
        if ((flags & kSignalFilterFlag) != 0 && record.rssi < kWeakestRssi) continue;
        found.push_back(BleDevice::Create(record, eventSink, eventContext, this));
    }
    CheckLeapiReturnCode(static_cast<int>(LEAPI_DevicesDiscoveryEnd(handle)),
                         "LEAPI_DevicesDiscoveryEnd");
    return found;
}

void LeStackApi::OnStackEvent(unsigned int /*event*/, const void* /*data*/, void* /*context*/) {}
