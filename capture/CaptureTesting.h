#pragma once
// Reaches into a Capture the way hardware would, for tests of what follows.

class Capture;

struct captureTesting
{
    // The source stops as an unplugged camera does.
    static void endSource(Capture* cap);
};
