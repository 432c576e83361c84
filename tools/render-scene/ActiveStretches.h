// Where a recording is active: 20 ms frames whose mean power lies within
// 30 dB of the recording's loudest frame and at least 10 dB above its
// background (the 10th percentile of the powers of the frames that are not
// digital silence: read speech pauses often enough; a recording that is all
// speech would put its background at speech level, so that rule asks for no
// more than 15 dB below the loudest frame), pauses shorter than 150 ms
// bridged, blips shorter than 60 ms dropped.
#ifndef KOLV_RENDER_ACTIVESTRETCHES_H
#define KOLV_RENDER_ACTIVESTRETCHES_H

#include <vector>

#include "Truth.h"

namespace render {

constexpr double kActivityFrameSeconds = 0.02;
constexpr double kActivityThresholdDb = 30.0;  // below the loudest frame
constexpr double kActivityAboveBackgroundDb = 10.0;
constexpr double kActivityBackgroundCapDb = 15.0;  // below the loudest frame
constexpr double kBackgroundPercentile = 0.1;
constexpr double kActivityBridgeSeconds = 0.15;
constexpr double kActivityShortestSeconds = 0.06;

// Stretches in seconds from the first sample of `signal`.
std::vector<scenekit::Stretch> findActiveStretches(const std::vector<double> &signal, int samplingRate);

}  // namespace render

#endif
