// Data transfer on the data characteristic: long writes, polled long reads,
// and the notification and indication values the stack delivers.
#include <leapi/leapi.h>
#include <noxb/BleModel.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>

#include "bleexception.h"
#include "systemclock.h"

namespace {

constexpr std::size_t kMaxValueLength = LEAPI_MAX_VALUE_LENGTH;
constexpr std::chrono::milliseconds kEmptyReadPause{100};

}  // namespace

BleCharacteristic::BleCharacteristic(std::uint16_t handle, std::vector<std::uint8_t> bytes)
    : value(), notificationBuffer(std::ios::in | std::ios::out) {
    value.handle = handle;
    value.length = static_cast<std::uint16_t>(std::min(bytes.size(), kMaxValueLength));
    std::copy_n(bytes.begin(), value.length, value.data);
}

void BleCharacteristic::Clear() {
    WithBuffer([this] {
        value.length = 0;
        notificationBuffer.str(std::string());
        notificationBuffer.clear();
    });
}

BleCharacteristicInfo::BleCharacteristicInfo(const LeCharacteristicRecord& record, BleDevice* owner)
    : characteristicRecord(record),
      characteristic(
          std::make_shared<BleCharacteristic>(record.valueHandle, std::vector<std::uint8_t>())),
      device(owner),
      uuid(record.uuid) {}

void BleCharacteristicInfo::WriteLong(const std::vector<std::uint8_t>& bytes) {
    // The stack reads only the value record, and nobody else sees the write's
    // holder: the record alone is made, on the stack, as a holder's
    // constructor would make it (zeroed, handle, length, at most 512 bytes).
    // A whole holder would also build a notification stream per write.
    CharacteristicValue value{};
    value.handle = characteristicRecord.valueHandle;
    value.length = static_cast<std::uint16_t>(std::min(bytes.size(), kMaxValueLength));
    std::copy_n(bytes.begin(), value.length, value.data);
    const std::uint32_t code = LEAPI_CharacteristicWriteLong(device->SessionHandle(), &value);
    CheckLeapiReturnCode(static_cast<int>(code), "LEAPI_CharacteristicWriteLong");
}

void BleCharacteristicInfo::ReadLong(std::vector<std::uint8_t>& out, std::int64_t timeoutMs) {
    BleCharacteristic& holder = *characteristic;
    holder.Clear();
    const std::int64_t start = SystemTimeTicks();
    // The stack is handed the holder's own record and writes only its length
    // and data, on this thread; the callback thread reads only its handle,
    // which nobody writes after construction. So the call needs no guard.
    CharacteristicValue& record = holder.value;
    for (;;) {
        const std::uint32_t code = LEAPI_CharacteristicReadLong(
            device->SessionHandle(), characteristicRecord.valueHandle, &record);
        // "Again" is not an error: ask once more at once.
        if (code != LEAPI_ERROR_AGAIN) {
            CheckLeapiReturnCode(static_cast<int>(code), "LEAPI_CharacteristicReadLong");
        }
        if (record.length != 0) break;
        if (code == LEAPI_SUCCESS) Pause(kEmptyReadPause);
        const double elapsedSeconds = static_cast<double>(SystemTimeTicks() - start) / 10000000.0;
        const auto elapsedMs = static_cast<std::int64_t>(elapsedSeconds * 1000.0);
        if (elapsedMs >= timeoutMs) break;
    }
    const std::size_t length = std::min<std::size_t>(record.length, kMaxValueLength);
    out.assign(record.data, record.data + length);
}

void BleCharacteristicInfo::OnCharacteristicCallback(std::uint32_t event, const void* data,
                                                     void* context) {
    if (event != LEAPI_EVENT_CHARACTERISTIC_VALUE || data == nullptr || context == nullptr) return;
    auto* info = static_cast<BleCharacteristicInfo*>(context);
    LeValueEventHeader header;
    std::memcpy(&header, data, sizeof header);
    if (header.session != info->device->SessionHandle()) return;
    BleCharacteristic& holder = *info->characteristic;
    holder.WithBuffer([&] {
        if (header.handle != holder.value.handle) return;
        holder.notificationBuffer.write(static_cast<const char*>(data) + sizeof header,
                                        header.length);
    });
    // The host is told outside the guard, so it may read the buffer.
    BleDevice* device = info->device;
    if (header.flag == 0 && device->eventSink != nullptr) {
        device->eventSink->OnCharacteristicData(device->eventContext, info);
    }
}
