#pragma once
// Start-up: settings first, then the console, modally; the process ends when it closes.

namespace orv {

class COrvCameraApp
{
public:
    // The whole start-up. False, as the process has nothing left to run once the console closed.
    bool InitInstance();
};

} // namespace orv
