// The provider's exception family, as a host catches it.
//
// Everything is defined inline here so that the module's export table stays
// the two factories: the host compiles its own copy of each class and the C++
// run time matches the module's throw against the host's handler by type name.
// Off Windows the type information must still be visible across the module
// boundary, hence the default visibility on each class.
#ifndef NOXB_EXCEPTIONS_H
#define NOXB_EXCEPTIONS_H

#include <cstdint>
#include <exception>
#include <string>

#if defined(_WIN32)
#define NOXB_EXCEPTION_API
#else
#define NOXB_EXCEPTION_API __attribute__((visibility("default")))
#endif

namespace noxb {
namespace BluetoothProvider {

class NOXB_EXCEPTION_API BluetoothProviderException : public std::exception {
  public:
    // libstdc++'s std::exception keeps no text, so the family keeps its own
    // copy; copying an exception copies the text.
    const char* what() const noexcept override { return whatText.c_str(); }
    virtual int ErrorType() const = 0;

  private:
    std::string whatText;

  public:
    // The LE stack return code behind the failure, 0 where there is none.
    std::int32_t nativeCode;

  protected:
    BluetoothProviderException(const char* text, std::int32_t code)
        : whatText(text), nativeCode(code) {}
};

class NOXB_EXCEPTION_API ConnectionFailedException : public BluetoothProviderException {
  public:
    ConnectionFailedException()
        : BluetoothProviderException(
              "Bluetooth Provider: Failed to establish connection with remote device.", 0) {}
    int ErrorType() const override { return 5; }
};

class NOXB_EXCEPTION_API ProviderServiceNotFoundException : public BluetoothProviderException {
  public:
    ProviderServiceNotFoundException()
        : BluetoothProviderException(
              "Bluetooth Provider: Operation failed since local adapter is not connected to the "
              "specified service.",
              0) {}
    int ErrorType() const override { return 9; }
};

class NOXB_EXCEPTION_API ProviderGeneralException : public BluetoothProviderException {
  public:
    int ErrorType() const override { return 18; }

  protected:
    ProviderGeneralException(const char* text, std::int32_t code)
        : BluetoothProviderException(text, code) {}
};

}  // namespace BluetoothProvider
}  // namespace noxb

// A failing LE stack call; carries the stack's return code.
class NOXB_EXCEPTION_API NoxBleProviderGeneralException
    : public noxb::BluetoothProvider::ProviderGeneralException {
  public:
    explicit NoxBleProviderGeneralException(int code)
        : ProviderGeneralException("Bluetooth provider general exception", code), leapiCode(code) {}

    std::int32_t leapiCode;
};

#endif  // NOXB_EXCEPTIONS_H
