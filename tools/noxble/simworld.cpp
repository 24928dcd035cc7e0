#include "simworld.h"

#include <cstdio>

#include "hosttext.h"
#include "output.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

using DeviceCountFn = uint32_t (*)();
using GetDeviceFn = uint32_t (*)(uint32_t, LeDeviceRecord*, uint8_t*, int*);

// Looks a control function up in the stack library the module loaded.
template <typename Function>
Function StackFunction(const char* name) {
#if defined(_WIN32)
    HMODULE stack = GetModuleHandleW(L"leapi.dll");
    if (stack == nullptr) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(stack, name)));
#else
    void* stack = dlopen("libleapi.so", RTLD_NOW | RTLD_NOLOAD);
    if (stack == nullptr) return nullptr;
    auto function = reinterpret_cast<Function>(dlsym(stack, name));
    dlclose(stack);  // only drops the reference NOLOAD took
    return function;
#endif
}

std::wstring AddressOf(const LeDeviceRecord& record) {
    return FromUtf8(AddressText(record.address));
}

std::wstring NameOf(const LeDeviceRecord& record) {
    std::wstring name;
    for (std::uint16_t unit : record.name) {
        if (unit == 0) break;
        name.push_back(static_cast<wchar_t>(unit));
    }
    return name;
}

}  // namespace

std::vector<LeDeviceRecord> SimulatedWorld() {
    const auto count = StackFunction<DeviceCountFn>("LeSimDeviceCount");
    const auto get = StackFunction<GetDeviceFn>("LeSimGetDevice");
    std::vector<LeDeviceRecord> world;
    if (count == nullptr || get == nullptr) return world;
    for (uint32_t id = 1, n = count(); id <= n; ++id) {
        LeDeviceRecord record;
        int removed = 0;
        if (get(id, &record, nullptr, &removed) == LEAPI_SUCCESS && removed == 0) {
            world.push_back(record);
        }
    }
    return world;
}

std::vector<std::string> ExplainFilters(const std::vector<LeDeviceRecord>& world,
                                        const std::vector<BleDeviceEntry>& entries) {
    std::vector<std::string> lines;
    for (const LeDeviceRecord& record : world) {
        const std::wstring address = AddressOf(record);
        bool first = false, second = false, connectable = false;
        for (const BleDeviceEntry& entry : entries) {
            if (entry.address != address) continue;
            (entry.firstPass ? first : second) = true;
            connectable = connectable || entry.connectable;
        }
        const std::wstring name = NameOf(record);
        const std::string label =
            (name.empty() ? "(no name)" : ToUtf8(name)) + " " + ToUtf8(address);
        char detail[96];
        if (!first && !second && name.empty()) {
            std::snprintf(detail, sizeof detail, "left out: it has no name");
        } else if (!first && !second) {
            std::snprintf(detail, sizeof detail,
                          "left out: class %u/%u is not a phone, tablet or uncategorised device",
                          record.majorClass, record.minorClass);
        } else if (first && !second) {
            std::snprintf(detail, sizeof detail,
                          "first pass only: heard at %d dBm, the second pass wants -90 or more",
                          record.rssi);
        } else if (!connectable) {
            std::snprintf(detail, sizeof detail, "listed, but does not accept connections");
        } else {
            continue;
        }
        lines.push_back(label + ": " + detail);
    }
    return lines;
}
