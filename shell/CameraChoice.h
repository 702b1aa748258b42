#pragma once
// Which camera the settings name. The driver number alone points at another
// camera once the list changes (one unplugged, one added), so the camera's
// identity is kept beside it and wins when present.

class Capture;

// Selects the remembered camera: by its identity when the settings hold one
// (not there: nothing is selected and the capture reports it), otherwise by
// `storedIndex` as older settings files have it. True when it connected.
bool selectStoredCamera(Capture& camera, int storedIndex);
// From now on every driver chosen on `camera` is written to the settings,
// number and identity together.
void rememberCameraChoices(Capture& camera);
