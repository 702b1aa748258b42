#include "Capture.h"
// Placeholder until the GStreamer implementation lands.
