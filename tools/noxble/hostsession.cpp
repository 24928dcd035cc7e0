#include "hostsession.h"

#include <noxb/BleModel.h>
#include <noxb/Factories.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <thread>

#include "hosttext.h"
#include "output.h"

#if defined(_WIN32)
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace {

// "scanning... 1.4 s" on stderr while a scan runs, when stderr is a terminal.
class Progress {
  public:
    Progress() {
        if (!isatty(fileno(stderr))) return;
        worker = std::thread([this] { Run(); });
    }
    ~Progress() {
        if (!worker.joinable()) return;
        {
            std::lock_guard<std::mutex> hold(lock);
            done = true;
        }
        wake.notify_all();
        worker.join();
        std::fprintf(stderr, "\r%40s\r", "");
    }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

  private:
    void Run() {
        const auto start = std::chrono::steady_clock::now();
        std::unique_lock<std::mutex> hold(lock);
        while (!wake.wait_for(hold, std::chrono::milliseconds(100), [this] { return done; })) {
            const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
            std::fprintf(stderr, "\r  scanning... %.1f s", elapsed.count());
            std::fflush(stderr);
        }
    }
    std::mutex lock;
    std::condition_variable wake;
    bool done = false;
    std::thread worker;
};

}  // namespace

void EventPrinter::Say(const std::string& line) {
    if (!quiet) std::printf("  event: %s\n", line.c_str());
    std::fflush(stdout);
}

void EventPrinter::OnDeviceDisconnected(void*, BleDevice* device) {
    std::lock_guard<std::mutex> hold(lock);
    Say("device " + AddressText(device->deviceInfo.address) + " disconnected");
}

void EventPrinter::OnCharacteristicData(void*, BleCharacteristicInfo* characteristic) {
    const std::string data = characteristic->characteristic->TakeNotifications();
    std::lock_guard<std::mutex> hold(lock);
    notifications.emplace_back(data.begin(), data.end());
    Say("notification, " + Describe(notifications.back()));
}

void EventPrinter::OnSessionEstablished(void*, std::uint64_t session) {
    std::lock_guard<std::mutex> hold(lock);
    Say("session " + std::to_string(session) + " established");
}

std::vector<std::vector<std::uint8_t>> EventPrinter::Notifications() const {
    std::lock_guard<std::mutex> hold(lock);
    return notifications;
}

void EventPrinter::Quiet(bool on) {
    std::lock_guard<std::mutex> hold(lock);
    quiet = on;
}

HostSession::HostSession(const std::string& modulePath) : module(modulePath) {
    if (!module.Loaded()) {
        throw UsageError(ExitCode::kModuleNotLoaded, "cannot load the module: " + module.Error());
    }
    const auto createWithEvents = module.Export<noxb::CreateBleGattInstanceWithEventsFn>(
        noxb::kCreateBleGattInstanceWithEventsName);
    if (createWithEvents == nullptr) {
        throw UsageError(ExitCode::kModuleNotLoaded, modulePath + " is not the provider module");
    }
    provider.reset(createWithEvents(nullptr, &events));
}

HostSession::~HostSession() {
    if (handle) {
        try {
            provider->Disconnect(*handle);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "noxble: disconnect on exit failed: %s\n", e.what());
        }
    }
    provider.reset();  // through slot 0, before the module is unloaded
}

const std::vector<BleDeviceEntry>& HostSession::Scan(std::int64_t durationMs) {
    Progress progress;
    entries = provider->Scan(durationMs);
    return entries;
}

const BleDeviceEntry& HostSession::Select(const std::string& addressOrIndex) const {
    if (addressOrIndex.find(':') != std::string::npos) {
        const std::wstring address = FromUtf8(addressOrIndex);
        for (const BleDeviceEntry& entry : entries) {
            if (entry.address == address) return entry;
        }
        throw UsageError(ExitCode::kUnknownDevice,
                         "no device " + addressOrIndex + " in the last scan (scan first?)");
    }
    const std::int64_t index = ParseNumber(addressOrIndex, "a device index");
    if (index < 0 || static_cast<std::size_t>(index) >= entries.size()) {
        throw UsageError(ExitCode::kUnknownDevice,
                         "no device #" + addressOrIndex + " in the last scan (" +
                             std::to_string(entries.size()) + " entries)");
    }
    return entries[static_cast<std::size_t>(index)];
}

std::uint32_t HostSession::Connect(const BleDeviceEntry& entry) {
    if (handle) Disconnect();
    handle = provider->Connect(entry);
    connected = entry;
    return *handle;
}

void HostSession::RequireConnection() const {
    if (!handle) throw UsageError(ExitCode::kNotConnected, "not connected (connect first)");
}

const BleDeviceEntry& HostSession::ConnectedEntry() const {
    RequireConnection();
    return connected;
}

void HostSession::Send(const std::vector<std::uint8_t>& bytes) {
    RequireConnection();
    provider->Send(*handle, bytes);
}

std::vector<std::uint8_t> HostSession::Receive(std::int64_t timeoutMs) {
    RequireConnection();
    std::vector<std::uint8_t> bytes;
    provider->Receive(*handle, timeoutMs, bytes);
    return bytes;
}

std::int16_t HostSession::Rssi() {
    RequireConnection();
    return provider->GetRSSI(connected);
}

void HostSession::Disconnect() {
    RequireConnection();
    const std::uint32_t closing = *handle;
    handle.reset();
    provider->Disconnect(closing);
}
