// Finding the data service and characteristic on a device, subscribing to
// their values, and switching notifications on.
#include <leapi/leapi.h>
#include <noxb/BleModel.h>
#include <noxb/Exceptions.h>

#include <string>
#include <utility>

#include "bleexception.h"
#include "discoveryrun.h"
#include "gattuuids.h"
#include "logging/log.h"

BleService::BleService(BleDevice* owner, const LeServiceRecord& record)
    : device(owner), serviceRecord(record), uuid(record.uuid) {}

std::shared_ptr<BleService> BleDevice::FindService() {
    if (RefreshNeeded()) RefreshServices();
    for (const auto& service : services) {
        if (service->uuid == DataServiceUuid) return service;
    }
    throw noxb::BluetoothProvider::ProviderServiceNotFoundException();
}

std::shared_ptr<BleCharacteristicInfo> BleService::FindCharacteristic() {
    for (const auto& characteristic : characteristics) {
        if (characteristic->uuid == DataCharacteristicUuid) return characteristic;
    }
    throw noxb::BluetoothProvider::ProviderServiceNotFoundException();
}

void BleDevice::RefreshServices() {
    try {
        NOXB_LOG(LogLevel::Info, kModuleBleString, "BleDevice::RefreshServices",
                 "RefreshServices start");
        // The stack writes every out-parameter of a call that succeeds.
        std::uint64_t discovery{};
        std::uint16_t count{};
        CheckLeapiReturnCode(static_cast<int>(LEAPI_ServicesDiscoveryStartByUUID(
                                 SessionHandle(), &DataServiceUuid, &discovery, &count)),
                             "LEAPI_ServicesDiscoveryStartByUUID");
        ServicesDiscovery(discovery, count);

        std::shared_ptr<BleService> service;
        for (const auto& candidate : services) {
            if (candidate->uuid == DataServiceUuid) {
                service = candidate;
                break;
            }
        }
        if (!service) {
            NOXB_LOG(LogLevel::Error, kModuleBle, "BleDevice::RefreshServices",
                     "RefreshServices failed couldn't find the service in the device");
            throw noxb::BluetoothProvider::ProviderServiceNotFoundException();
        }

        CheckLeapiReturnCode(
            static_cast<int>(LEAPI_CharacteristicsDiscoveryStartByUUID(
                SessionHandle(), service->serviceRecord.firstHandle,
                service->serviceRecord.lastHandle, &DataCharacteristicUuid, &discovery, &count)),
            "LEAPI_CharacteristicsDiscoveryStartByUUID");
        service->CharacteristicsDiscovery(discovery, count);
        const std::shared_ptr<BleCharacteristicInfo> characteristic = service->FindCharacteristic();

        // Both kinds are asked for; the stack refuses the one the
        // characteristic does not offer.
        const std::uint16_t valueHandle = characteristic->characteristicRecord.valueHandle;
        std::uint32_t code = LEAPI_CharacteristicNotificationSubscribe(
            SessionHandle(), valueHandle, &BleCharacteristicInfo::OnCharacteristicCallback,
            characteristic.get());
        if (code != LEAPI_ERROR_NOT_OFFERED) {
            CheckLeapiReturnCode(static_cast<int>(code),
                                 "LEAPI_CharacteristicNotificationSubscribe");
        }
        code = LEAPI_CharacteristicIndicationSubscribe(
            SessionHandle(), valueHandle, &BleCharacteristicInfo::OnCharacteristicCallback,
            characteristic.get());
        if (code != LEAPI_ERROR_NOT_OFFERED) {
            CheckLeapiReturnCode(static_cast<int>(code), "LEAPI_CharacteristicIndicationSubscribe");
        }
        characteristic->SetDescriptor();

        WithSession([this] { refreshNeeded = false; });
        NOXB_LOG(LogLevel::Info, kModuleBleString, "BleDevice::RefreshServices",
                 "RefreshServices end");
    } catch (const NoxBleProviderGeneralException&) {
        NOXB_LOG(LogLevel::Error, kModuleBle, "BleDevice::RefreshServices",
                 "RefreshServices failed to notify Characteristic");
        throw noxb::BluetoothProvider::ProviderServiceNotFoundException();
    }
}

void BleDevice::ServicesDiscovery(std::uint64_t discoveryHandle, std::uint16_t count) {
    NOXB_LOG(LogLevel::Info, kModuleBle, "BleDevice::ServicesDiscovery", "ServicesDiscovery strat");
    DiscoveryRun run(LEAPI_ServicesDiscoveryEnd, discoveryHandle);
    // Services replaced here may still be named by subscriptions.
    for (auto& service : services) Retire(std::move(service));
    services.clear();
    for (std::uint16_t i = 0; i < count; ++i) {
        LeServiceRecord record{};
        // A record the stack fails to give only shortens the list.
        if (LEAPI_ServicesDiscoveryGetNext(discoveryHandle, &record) != LEAPI_SUCCESS) continue;
        services.push_back(std::make_shared<BleService>(this, record));
    }
}

void BleService::CharacteristicsDiscovery(std::uint64_t discoveryHandle, std::uint16_t count) {
    DiscoveryRun run(LEAPI_CharacteristicsDiscoveryEnd, discoveryHandle);
    for (auto& characteristic : characteristics) device->Retire(std::move(characteristic));
    characteristics.clear();
    for (std::uint16_t i = 0; i < count; ++i) {
        LeCharacteristicRecord record{};
        CheckLeapiReturnCode(
            static_cast<int>(LEAPI_CharacteristicsDiscoveryGetNext(discoveryHandle, &record)),
            "LEAPI_CharacteristicsDiscoveryGetNext");
        characteristics.push_back(std::make_shared<BleCharacteristicInfo>(record, device));
    }
}

void BleCharacteristicInfo::SetDescriptor() {
    const std::uint64_t session = device->SessionHandle();
    std::uint64_t discovery{};
    std::uint16_t count{};
    CheckLeapiReturnCode(static_cast<int>(LEAPI_CharacteristicDescriptorsDiscoveryStart(
                             session, characteristicRecord.valueHandle,
                             characteristicRecord.lastHandle, &discovery, &count)),
                         "LEAPI_CharacteristicDescriptorsDiscoveryStart");
    DiscoveryRun run(LEAPI_CharacteristicDescriptorsDiscoveryEnd, discovery);
    NOXB_LOG(LogLevel::Info, kModuleBle, "BleCharacteristicInfo::SetDescriptor",
             "SetDescriptor number_of_descriptors:" + std::to_string(count));
    if (count == 0) throw NoxBleProviderGeneralException(-1);
    for (std::uint16_t i = 0; i < count; ++i) {
        LeDescriptorRecord descriptor{};
        CheckLeapiReturnCode(static_cast<int>(LEAPI_CharacteristicDescriptorsDiscoveryGetNext(
                                 discovery, &descriptor)),
                             "LEAPI_CharacteristicDescriptorsDiscoveryGetNext");
        // Any UUID type whose first two bytes read 0x2902 will do.
        if (ShortUuidOf(descriptor.uuid) != kClientConfigurationUuid) continue;
        CharacteristicValue configuration{};
        configuration.handle = descriptor.handle;
        configuration.length = 2;
        configuration.data[0] = 0x01;  // notifications on
        configuration.data[1] = 0x00;
        CheckLeapiReturnCode(
            static_cast<int>(LEAPI_CharacteristicDescriptorWrite(session, &configuration)),
            "LEAPI_CharacteristicDescriptorWrite");
        return;  // later descriptors are not read
    }
    NOXB_LOG(LogLevel::Info, kModuleBle, "BleCharacteristicInfo::SetDescriptor",
             "SetDescriptor did  not find Descriptor");
    throw NoxBleProviderGeneralException(-1);
}
