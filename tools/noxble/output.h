// Exit codes, input errors, and the text noxble reads and prints.
#ifndef NOXBLE_OUTPUT_H
#define NOXBLE_OUTPUT_H

#include <noxb/IBTProvider.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "hosttext.h"

// One code per kind of failure, so scripts can tell them apart.
enum class ExitCode : int {
    kOk = 0,
    kUsage = 1,              // unknown command or option
    kMissingArgument = 2,    // a command or option lacks its argument
    kBadNumber = 3,          // an argument that must be a number is not one
    kBadHex = 4,             // send hex:... with something that is not hex bytes
    kUnknownDevice = 5,      // no entry of the last scan has that address or index
    kNotConnected = 6,       // the command needs a connection
    kModuleNotLoaded = 7,    // the module could not be loaded
    kConnectionFailed = 10,  // ConnectionFailedException
    kServiceNotFound = 11,   // ProviderServiceNotFoundException
    kStackFailure = 12,      // a failing stack call (ProviderGeneralException)
    kProviderFailure = 13,   // any other provider exception
    kUnexpected = 14,        // anything else
};

// A failure of noxble's own (bad input, no module); `code` says which kind.
class UsageError : public std::runtime_error {
  public:
    UsageError(ExitCode exitCode, const std::string& message)
        : std::runtime_error(message), code(exitCode) {}
    ExitCode code;
};

// A whole decimal number, or UsageError(kBadNumber) naming `what`.
std::int64_t ParseNumber(const std::string& text, const std::string& what);
// "hex:0a1B..." or "hex:0a 1b": the bytes, or UsageError(kBadHex).
std::vector<std::uint8_t> ParseHex(const std::string& text);

// Bytes as text when printable, else as hex, for showing received data.
std::string Describe(const std::vector<std::uint8_t>& bytes);

void PrintEntriesTable(const std::vector<BleDeviceEntry>& entries);
void PrintEntriesJson(const std::vector<BleDeviceEntry>& entries);

#endif  // NOXBLE_OUTPUT_H
