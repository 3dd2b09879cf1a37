#pragma once
// The camera maker's SDK, loaded from the program folder the first time it is needed. When the
// library or one of its functions is missing every login is refused, so the dialog reports a
// failed login rather than pretending to reach a camera.

#include "gb28181/camera_sdk.h"

#include <QString>

#include <memory>

namespace orv::gb28181 {

// "QMNetSDK.dll" on Windows, "libQMNetSDK.so" elsewhere.
QString vendorLibraryFileName();

class VendorSdkLibrary : public CameraSdk
{
public:
    // `folder` empty: the folder of the running program.
    explicit VendorSdkLibrary(const QString& folder = {});
    ~VendorSdkLibrary() override;

    bool isLoaded() const;
    QString errorText() const;

    int init() override;
    int login(const char* address, int port, const char* user, const char* password, LoginStatusCallback callback,
              void* context) override;
    int loginOut(int handle) override;
    int getConfig(int handle, int channel, int command, void* buffer, int* size) override;
    int setConfig(int handle, int channel, int command, const void* buffer, int size) override;
    int closeStream(int handle, int channel, int stream) override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace orv::gb28181
