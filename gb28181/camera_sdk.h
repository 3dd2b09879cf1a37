#pragma once
// The six functions of the camera maker's network SDK, as this program uses them. The dialog
// talks to whatever implementation is installed: the vendor library loaded at run time, or a
// recording fake in the tests.

#include <cstdint>

namespace orv::gb28181 {

// Called by the SDK, possibly on a thread of its own: status 0 means the login succeeded.
using LoginStatusCallback = int (*)(int value, int status, void* context);

class CameraSdk
{
public:
    virtual ~CameraSdk() = default;
    virtual int init() = 0;
    // A handle above 0 when the attempt was accepted; the outcome arrives through `callback`.
    virtual int login(const char* address, int port, const char* user, const char* password,
                      LoginStatusCallback callback, void* context) = 0;
    virtual int loginOut(int handle) = 0;
    virtual int getConfig(int handle, int channel, int command, void* buffer, int* size) = 0;
    virtual int setConfig(int handle, int channel, int command, const void* buffer, int size) = 0;
    virtual int closeStream(int handle, int channel, int stream) = 0;
};

// The SDK the dialog uses: the vendor library unless a test installed another. The installed
// object is not owned; nullptr brings the vendor library back.
CameraSdk& cameraSdk();
void installCameraSdk(CameraSdk* sdk);

} // namespace orv::gb28181
