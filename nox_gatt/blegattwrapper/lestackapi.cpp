#include "lestackapi.h"

LeStackApi::LeStackApi(IBleGattEvents* sink, void* context)
    : eventSink(sink), eventContext(context) {}

std::vector<std::shared_ptr<BleDevice>> LeStackApi::DevicesDiscovery(
    std::uint8_t /*flags*/, std::uint8_t /*durationSeconds*/) {
    // Discovery comes with the device model; until then a run finds nothing.
    return {};
}

void LeStackApi::OnStackEvent(unsigned int /*event*/, const void* /*data*/, void* /*context*/) {}
