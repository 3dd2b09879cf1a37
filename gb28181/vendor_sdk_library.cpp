#include "gb28181/vendor_sdk_library.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibrary>

namespace orv::gb28181 {

namespace {

using InitFn = int (*)();
using LoginFn = int (*)(const char*, int, const char*, const char*, LoginStatusCallback, void*);
using LoginOutFn = int (*)(int);
using GetConfigFn = int (*)(int, int, int, void*, int*);
using SetConfigFn = int (*)(int, int, int, const void*, int);
using CloseStreamFn = int (*)(int, int, int);

constexpr int kFailure = -1;

} // namespace

QString vendorLibraryFileName()
{
#ifdef _WIN32
    return QStringLiteral("QMNetSDK.dll");
#else
    return QStringLiteral("libQMNetSDK.so");
#endif
}

struct VendorSdkLibrary::Impl
{
    QLibrary library;
    QString error;
    InitFn init = nullptr;
    LoginFn login = nullptr;
    LoginOutFn loginOut = nullptr;
    GetConfigFn getConfig = nullptr;
    SetConfigFn setConfig = nullptr;
    CloseStreamFn closeStream = nullptr;

    bool complete() const { return init && login && loginOut && getConfig && setConfig && closeStream; }
};

VendorSdkLibrary::VendorSdkLibrary(const QString& folder)
    : impl_(std::make_unique<Impl>())
{
    const QString dir = folder.isEmpty() ? QCoreApplication::applicationDirPath() : folder;
    // A full path, so that only the copy beside the program is taken, never one found on a search path.
    impl_->library.setFileName(QDir(dir).absoluteFilePath(vendorLibraryFileName()));
    if (!impl_->library.load()) {
        impl_->error = impl_->library.errorString();
        return;
    }
    impl_->init = reinterpret_cast<InitFn>(impl_->library.resolve("QMNET_Init"));
    impl_->login = reinterpret_cast<LoginFn>(impl_->library.resolve("QMNET_Login"));
    impl_->loginOut = reinterpret_cast<LoginOutFn>(impl_->library.resolve("QMNET_LoginOut"));
    impl_->getConfig = reinterpret_cast<GetConfigFn>(impl_->library.resolve("QMNET_GetConfig"));
    impl_->setConfig = reinterpret_cast<SetConfigFn>(impl_->library.resolve("QMNET_SetConfig"));
    impl_->closeStream = reinterpret_cast<CloseStreamFn>(impl_->library.resolve("QMNET_CloseStream"));
    if (!impl_->complete()) {
        impl_->error = QStringLiteral("%1 lacks a function of the SDK").arg(impl_->library.fileName());
    }
}

// The library stays loaded: a login the SDK still works on may call back into it.
VendorSdkLibrary::~VendorSdkLibrary() = default;

bool VendorSdkLibrary::isLoaded() const
{
    return impl_->complete();
}

QString VendorSdkLibrary::errorText() const
{
    return impl_->error;
}

int VendorSdkLibrary::init()
{
    return isLoaded() ? impl_->init() : kFailure;
}

int VendorSdkLibrary::login(const char* address, int port, const char* user, const char* password,
                            LoginStatusCallback callback, void* context)
{
    return isLoaded() ? impl_->login(address, port, user, password, callback, context) : kFailure;
}

int VendorSdkLibrary::loginOut(int handle)
{
    return isLoaded() ? impl_->loginOut(handle) : kFailure;
}

int VendorSdkLibrary::getConfig(int handle, int channel, int command, void* buffer, int* size)
{
    return isLoaded() ? impl_->getConfig(handle, channel, command, buffer, size) : kFailure;
}

int VendorSdkLibrary::setConfig(int handle, int channel, int command, const void* buffer, int size)
{
    return isLoaded() ? impl_->setConfig(handle, channel, command, buffer, size) : kFailure;
}

int VendorSdkLibrary::closeStream(int handle, int channel, int stream)
{
    return isLoaded() ? impl_->closeStream(handle, channel, stream) : kFailure;
}

namespace {
CameraSdk* installedSdk = nullptr;
} // namespace

CameraSdk& cameraSdk()
{
    if (installedSdk) {
        return *installedSdk;
    }
    static VendorSdkLibrary vendor;
    return vendor;
}

void installCameraSdk(CameraSdk* sdk)
{
    installedSdk = sdk;
}

} // namespace orv::gb28181
