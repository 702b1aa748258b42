#pragma once
// Reaches into a Capture the way hardware would, for tests of what follows.

#include <QList>
#include <memory>

class Capture;
class CameraSource;

struct captureTesting
{
    // The source stops as an unplugged camera does.
    static void endSource(Capture* cap);
    // Replaces the drivers found on this machine (what a camera list would be).
    static void setSources(Capture* cap, QList<std::shared_ptr<CameraSource>> sources);
};
