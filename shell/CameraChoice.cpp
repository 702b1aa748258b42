#include "shell/CameraChoice.h"

#include "capture/Capture.h"
#include "shell/Settings.h"

namespace {
CameraIdentity storedIdentity()
{
    const Settings& s = Settings::instance();
    return {s.get(setting::CaptureDevice), s.get(setting::CaptureDeviceName),
            s.get(setting::CaptureDeviceBus)};
}
} // namespace

bool selectStoredCamera(Capture& camera, int storedIndex)
{
    const CameraIdentity identity = storedIdentity();
    if (identity.isEmpty())
        return camera.setDriverIndex(storedIndex);
    return camera.selectDriver(identity);
}

void rememberCameraChoices(Capture& camera)
{
    QObject::connect(&camera, &Capture::driverChosen, &camera, [cam = &camera](int index) {
        const CameraIdentity identity = cam->driverIdentity(index);
        SettingsBatch batch;
        Settings& s = Settings::instance();
        s.set(setting::CaptureDriver, index);
        s.set(setting::CaptureDevice, identity.path);
        s.set(setting::CaptureDeviceName, identity.name);
        s.set(setting::CaptureDeviceBus, identity.bus);
    });
}
