#include "RobustBinauralLocalization.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "Directions.h"
#include "GenericType.h"
#include "NodeDescription.h"
#include "Source.h"
#include "Vector.h"

using namespace localization;

namespace {

constexpr const char *kMeasuredHeadName = "MEASURED_HEAD";
constexpr const char *kSphericalHeadSteering = "SPHERICAL_HEAD";
constexpr const char *kPhaseName = "PHASE";
constexpr const char *kPhaseAndLevelName = "PHASE_AND_LEVEL";

// Head sizes the steering is kept for when HEAD_SCALE is learnt, over the
// steering's own: about 4.6 % apart, 1 among them. Heads differ from the
// measured KEMAR by up to about a tenth, and steering for a head a tenth too
// small finds a larger head's talkers in an office in 80 % of their active
// seconds instead of 98 %.
constexpr std::array<float, 11> kLearntHeadScales = {0.8f,   0.836f, 0.875f, 0.915f, 0.956f, 1.0f,
                                                     1.046f, 1.094f, 1.143f, 1.195f, 1.25f};

// s: the span over which ROOM_RISE measures how the spatial spectrum grew; a
// talker who starts while another speaks grows out of the summed spectrum
// in about this time (0.05 s caught none of them earlier, 0.2 s let more
// reflections through).
constexpr float kRiseSpan = 0.1f;

// One declaration per parameter, in the order the constructor reads them.
struct Parameters : KOLV::ParameterTable {
  const KOLV::ParameterInfo &steering =
      add(KOLV::stringParameter("STEERING", "",
                                "expected interaural cues: MEASURED_HEAD (from SOFA_FILE) or SPHERICAL_HEAD")
              .oneOf({kMeasuredHeadName, kSphericalHeadSteering})
              .byDefault(kMeasuredHeadName));
  const KOLV::ParameterInfo &sofaFile =
      add(KOLV::stringParameter("SOFA_FILE", "", "head-related responses (SOFA) for MEASURED_HEAD")
              .byDefault(kDefaultSofaFile));
  const KOLV::ParameterInfo &cues =
      add(KOLV::stringParameter("CUES", "",
                                "compare the interaural PHASE, or PHASE_AND_LEVEL, which keeps the phase's "
                                "ambiguous directions from making peaks (measured head only; by default with "
                                "SPHERICAL_HEAD the phase)")
              .oneOf({kPhaseName, kPhaseAndLevelName})
              .byDefault(kPhaseAndLevelName));
  const KOLV::ParameterInfo &roomCues =
      add(KOLV::stringParameter("ROOM_CUES", "",
                                "the cues compared while the stream is taken for a reverberant room (see "
                                "ROOM_LEVEL): PHASE_AND_LEVEL keeps most reflections from leading frames; with "
                                "SPHERICAL_HEAD the phase")
              .oneOf({kPhaseName, kPhaseAndLevelName})
              .byDefault(kPhaseAndLevelName));
  const KOLV::ParameterInfo &headScale =
      add(KOLV::floatParameter("HEAD_SCALE", "",
                               "the listening head's size over the steering's (SOFA_FILE's head, or the sphere of "
                               "MICS_DISTANCE): interaural delays grow with it; 0 learns it from the stream, from "
                               "0.8 to 1.25, starting at 1; else 0.5 to 2")
              .atLeast(0.0)
              .atMost(kLargestHeadScale)
              .byDefault(0.0f));
  const KOLV::ParameterInfo &micsDistance =
      add(KOLV::floatParameter("MICS_DISTANCE", "cm", "head diameter for SPHERICAL_HEAD")
              .above(0.0)
              .byDefault(18.8f));
  const KOLV::ParameterInfo &advance =
      add(KOLV::advanceParameter("frame shift")
              .byDefault(160));
  const KOLV::ParameterInfo &samplingRate =
      add(KOLV::samplingRateParameter("sampling rate")
              .byDefault(16000));
  const KOLV::ParameterInfo &frequencyLow =
      add(KOLV::floatParameter("FREQUENCY_LOW", "Hz", "lower edge of the analysed band")
              .atLeast(0.0)
              .byDefault(300.0f));
  const KOLV::ParameterInfo &frequencyHigh =
      add(KOLV::floatParameter("FREQUENCY_HIGH", "Hz", "upper edge of the analysed band")
              .above(0.0)
              .byDefault(4000.0f));
  const KOLV::ParameterInfo &integration =
      add(KOLV::floatParameter("INTEGRATION_DURATION", "s",
                               "the weighted cross-spectra of this long a run of frames are summed")
              .atLeast(0.0)
              .atMost(10.0)
              .byDefault(0.2f));
  const KOLV::ParameterInfo &onsetDecay =
      add(KOLV::floatParameter("ONSET_DECAY", "dB/s",
                               "assumed decay of reverberation: a bin counts as an onset by how far it "
                               "rises above the earlier frames decaying at this rate")
              .above(0.0)
              .byDefault(100.0f));
  const KOLV::ParameterInfo &onsetFloor =
      add(KOLV::floatParameter("ONSET_FLOOR", "", "weight (0 to 1) a bin keeps without any onset")
              .atLeast(0.0)
              .atMost(1.0)
              .byDefault(0.0f));
  const KOLV::ParameterInfo &noiseRise =
      add(KOLV::floatParameter("NOISE_RISE", "dB/s", "fastest rise of the learnt noise level through speech")
              .atLeast(0.0)
              .byDefault(5.0f));
  const KOLV::ParameterInfo &noiseOverestimate =
      add(KOLV::floatParameter("NOISE_OVERESTIMATE", "",
                               "a bin's SNR weight is 1 - this x noise / power")
              .atLeast(0.0)
              .byDefault(2.0f));
  const KOLV::ParameterInfo &phatBeta =
      add(KOLV::floatParameter("PHAT_BETA", "",
                               "whitening exponent: 1 weighs bins by trust alone, less lets louder bins weigh more")
              .atLeast(0.0)
              .atMost(1.0)
              .byDefault(1.0f));
  const KOLV::ParameterInfo &coherence =
      add(KOLV::floatParameter("COHERENCE_EXPONENT", "",
                               "a bin weighs its consistency over the integration to this power (0: not)")
              .atLeast(0.0)
              .byDefault(0.0f));
  const KOLV::ParameterInfo &roomCoherence =
      add(KOLV::floatParameter("ROOM_COHERENCE_EXPONENT", "",
                               "the same while the stream is taken for a reverberant room (see ROOM_LEVEL), where "
                               "bins whose phase wanders are mostly reflections'")
              .atLeast(0.0)
              .byDefault(1.0f));
  const KOLV::ParameterInfo &sharpness =
      add(KOLV::intParameter("SHARPNESS", "",
                             "k: each bin's agreement with a direction, a cosine, is raised to the power "
                             "2k+1 (0 the plain cosine)")
              .atLeast(0)
              .atMost(4)
              .byDefault(2));
  const KOLV::ParameterInfo &minEvidence =
      add(KOLV::floatParameter("MIN_EVIDENCE", "",
                               "the spectrum is divided by its summed bin weights, but at least by this share "
                               "of bins x frames")
              .atLeast(0.0)
              .atMost(1.0)
              .byDefault(0.05f));
  const KOLV::ParameterInfo &threshold =
      add(KOLV::floatParameter("THRESHOLD", "", "a peak of the spatial spectrum (0 to 1) is reported only above this")
              .atLeast(0.0)
              .below(1.0)
              .byDefault(0.1f));
  const KOLV::ParameterInfo &secondThreshold =
      add(KOLV::floatParameter("SECOND_THRESHOLD", "",
                               "a peak after the highest must also exceed this (0: THRESHOLD alone); raise it "
                               "in rooms, where weak secondary peaks are mostly reflections")
              .atLeast(0.0)
              .below(1.0)
              .byDefault(0.0f));
  const KOLV::ParameterInfo &maxPeaks =
      add(KOLV::intParameter("MAX_PEAKS", "", "at most this many sources per frame, the strongest")
              .atLeast(1)
              .atMost(kMaxPeaks)
              .byDefault(2));
  const KOLV::ParameterInfo &roomLevel =
      add(KOLV::floatParameter("ROOM_LEVEL", "",
                               "where the frames' highest peaks over ROOM_MEMORY average below this the stream is "
                               "taken for a reverberant room, and a peak after the highest is reported only near "
                               "recent highest peaks (0: never)")
              .atLeast(0.0)
              .atMost(1.0)
              .byDefault(0.5f));
  const KOLV::ParameterInfo &roomMemory =
      add(KOLV::floatParameter("ROOM_MEMORY", "s", "span of the highest peaks kept for ROOM_LEVEL")
              .above(0.0)
              .atMost(60.0)
              .byDefault(2.0f));
  const KOLV::ParameterInfo &roomShare =
      add(KOLV::floatParameter("ROOM_SHARE", "",
                               "in a room, a peak after the highest is reported only within ROOM_GATE of this share "
                               "of the highest peaks of the last ROOM_MEMORY")
              .above(0.0)
              .atMost(1.0)
              .byDefault(0.1f));
  const KOLV::ParameterInfo &roomGate =
      add(KOLV::intParameter("ROOM_GATE", "deg", "how near those highest peaks")
              .atLeast(0)
              .atMost(180)
              .byDefault(6));
  const KOLV::ParameterInfo &roomRise =
      add(KOLV::floatParameter("ROOM_RISE", "",
                               "in a room, a peak away from those highest peaks is still reported where the spatial "
                               "spectrum has grown this many times over the last 0.1 s, and this many times more "
                               "than at the frame's highest peak and at every direction lately highest: a talker "
                               "who starts while another speaks, whose reflections grow with them (0: never)")
              .atLeast(0.0)
              .byDefault(2.0f));
  const KOLV::ParameterInfo &roomLeadRise =
      add(KOLV::floatParameter("ROOM_LEAD_RISE", "",
                               "in a room, a frame's highest peak away from the recent highest ones is reported "
                               "only where the spatial spectrum has grown this many times over the last 0.1 s: a "
                               "talker starts, a reflection leading the reverberation after its talker's last word "
                               "decays (0: always)")
              .atLeast(0.0)
              .byDefault(1.5f));
};

const Parameters &declared() {
  static const Parameters table;
  return table;
}

std::string describe(const std::string &nodeName) { return "RobustBinauralLocalization '" + nodeName + "'"; }

Cues cuesNamed(const std::string &name) { return name == kPhaseAndLevelName ? Cues::PhaseAndLevel : Cues::Phase; }

}  // namespace

const KOLV::NodeDescription &RobustBinauralLocalization::description() {
  static const KOLV::NodeDescription table{
      "Per-frame azimuths (-90 to +90 degrees) of talkers from a two-channel spectrum, for rooms: bins "
      "weighted by onset and SNR, summed over frames, steered by a measured head",
      {{"AUDIO_SPECTRUM", "Matrix<complex<float>>",
        "spectrum, row 0 the left (first) microphone, row 1 the right (second)", 2}},
      {{"ESTIMATED_DOA", "Vector<ObjectRef>", "one Source per detected peak (at most MAX_PEAKS), in increasing azimuth"}},
      declared().entries()};
  return table;
}

RobustBinauralLocalization::RobustBinauralLocalization(std::string nodeName, KOLV::ParameterSet params)
    : BufferedNode(nodeName, params) {
  spectrumID = addInput("AUDIO_SPECTRUM");
  doaID = addOutput("ESTIMATED_DOA");

  const Parameters &p = declared();
  steeringName = p.steering.readString(parameters);
  sofaFile = p.sofaFile.readString(parameters);
  const std::string cuesName = p.cues.readString(parameters);
  const std::string roomCuesName = p.roomCues.readString(parameters);
  headScale = p.headScale.readFloat(parameters);
  micsDistance = p.micsDistance.readFloat(parameters);
  advance = p.advance.readInt(parameters);
  samplingRate = p.samplingRate.readInt(parameters);
  frequencyLow = p.frequencyLow.readFloat(parameters);
  frequencyHigh = p.frequencyHigh.readFloat(parameters);
  const float integration = p.integration.readFloat(parameters);
  const float onsetDecay = p.onsetDecay.readFloat(parameters);
  settings.trust.onsetFloor = p.onsetFloor.readFloat(parameters);
  const float noiseRise = p.noiseRise.readFloat(parameters);
  settings.trust.noiseOverestimate = p.noiseOverestimate.readFloat(parameters);
  settings.phatBeta = p.phatBeta.readFloat(parameters);
  settings.coherenceExponent = p.coherence.readFloat(parameters);
  settings.roomCoherenceExponent = p.roomCoherence.readFloat(parameters);
  settings.sharpness = p.sharpness.readInt(parameters);
  settings.minEvidence = p.minEvidence.readFloat(parameters);
  settings.threshold = p.threshold.readFloat(parameters);
  settings.secondThreshold = p.secondThreshold.readFloat(parameters);
  settings.maxPeaks = p.maxPeaks.readInt(parameters);
  settings.room.level = p.roomLevel.readFloat(parameters);
  const float roomMemory = p.roomMemory.readFloat(parameters);
  settings.room.share = p.roomShare.readFloat(parameters);
  settings.room.gate = p.roomGate.readInt(parameters);
  settings.room.rise = p.roomRise.readFloat(parameters);
  settings.room.leadRise = p.roomLeadRise.readFloat(parameters);
  p.validate(parameters, describe(getName()));

  if (headScale != 0.0f && headScale < kSmallestHeadScale) {
    std::ostringstream what;
    what << describe(getName()) << ": HEAD_SCALE " << headScale << " would steer for a head less than half the size "
         << "of the steering's; give 0 to learn it from the stream, or " << kSmallestHeadScale << " to "
         << kLargestHeadScale;
    throw new KOLV::GeneralException(what.str(), __FILE__, __LINE__);
  }
  cues = cuesNamed(cuesName);
  roomCues = cuesNamed(roomCuesName);
  const float frameSeconds = static_cast<float>(advance) / static_cast<float>(samplingRate);
  const auto framesOf = [frameSeconds](float seconds) {
    return std::max(1, static_cast<int>(std::lround(seconds / frameSeconds)));
  };
  settings.integrationFrames = framesOf(integration);
  settings.room.memoryFrames = framesOf(roomMemory);
  settings.room.riseFrames = framesOf(kRiseSpan);
  settings.trust.tailDecay = perFrameFactor(-onsetDecay, frameSeconds);
  settings.trust.noiseRise = perFrameFactor(noiseRise, frameSeconds);

  if (steeringName == kMeasuredHeadName) {
    try {
      head = std::make_unique<MeasuredHead>(sofaFile, samplingRate);
    } catch (const std::exception &e) {
      throw new KOLV::GeneralException(describe(getName()) + ": SOFA_FILE \"" + sofaFile + "\": " + e.what(),
                                       __FILE__, __LINE__);
    }
  } else if (cues == Cues::PhaseAndLevel) {
    if (parameters.exist(p.cues.name))
      throw new KOLV::GeneralException(describe(getName()) + ": CUES " + kPhaseAndLevelName + " needs STEERING " +
                                           kMeasuredHeadName + "; the spherical head gives phase only",
                                       __FILE__, __LINE__);
    cues = Cues::Phase;  // the default asks for what the steering has
  }
  processInOrder = true;
}

RobustBinauralLocalization::~RobustBinauralLocalization() = default;

void RobustBinauralLocalization::fail(int count, const std::string &what) const {
  throw new KOLV::GeneralException(describe(getName()) + ", frame " + std::to_string(count) + ": " + what,
                                   __FILE__, __LINE__);
}

void RobustBinauralLocalization::checkShape(const Spectrum &spectrum, int count) const {
  if (spectrum.nrows() < 2)
    fail(count, "input AUDIO_SPECTRUM has " + std::to_string(spectrum.nrows()) + " row(s); it needs two channels");
  if (count > 0 && spectrum.ncols() != cols)
    fail(count, "input AUDIO_SPECTRUM has " + std::to_string(spectrum.ncols()) + " columns, but frame 0 had " +
                    std::to_string(cols));
}

// The band's bins and the steering, once the column count is known.
void RobustBinauralLocalization::setUp(const Spectrum &spectrum, int count) {
  cols = spectrum.ncols();
  if (cols < 2) fail(count, "input AUDIO_SPECTRUM has " + std::to_string(cols) + " column(s); a spectrum needs at least 2");
  const double spacing = 0.5 * samplingRate / (cols - 1);
  const int lowBin = static_cast<int>(std::ceil(frequencyLow / spacing));
  const int highBin = std::min(cols, static_cast<int>(std::floor(frequencyHigh / spacing)) + 1);
  if (lowBin >= highBin) {
    std::ostringstream what;
    what << "the band FREQUENCY_LOW " << frequencyLow << " Hz to FREQUENCY_HIGH " << frequencyHigh
         << " Hz holds no bin of a spectrum of " << cols << " columns at SAMPLING_RATE " << samplingRate << " Hz";
    fail(count, what.str());
  }
  // A measured head's responses are known up to the Nyquist frequency: a
  // larger head's at bin j are the measured ones at scale * j.
  const auto fits = [&](float scale) { return !head || (highBin - 1) * static_cast<double>(scale) <= cols - 1; };
  std::vector<InterauralSteering> steerings;
  std::vector<float> scales;
  int start = 0;
  HeadScaleLearning learning;
  if (headScale > 0.0f) {
    if (!fits(headScale)) {
      std::ostringstream what;
      what << "HEAD_SCALE " << headScale << " needs the measured head's responses up to " << frequencyHigh * headScale
           << " Hz, above the Nyquist frequency of SAMPLING_RATE " << samplingRate << " Hz; lower FREQUENCY_HIGH";
      fail(count, what.str());
    }
    scales.push_back(headScale);
  } else {
    for (float scale : kLearntHeadScales)
      if (fits(scale)) scales.push_back(scale);
    start = static_cast<int>(std::find(scales.begin(), scales.end(), 1.0f) - scales.begin());
    learning.enabled = true;
  }
  std::vector<InterauralSteering> roomSteerings;
  for (float scale : scales) {
    if (!head) {
      steerings.emplace_back(micsDistance * scale, samplingRate, cols, lowBin, highBin);
      continue;
    }
    const std::vector<EarResponses> responses = steeredResponses(*head, cols, lowBin, highBin, scale);
    steerings.emplace_back(responses, cues, lowBin, highBin);
    if (roomCues != cues) roomSteerings.emplace_back(responses, roomCues, lowBin, highBin);
  }
  head.reset();  // the responses are in the steering now
  localizer = DirectSoundLocalizer(settings, std::move(steerings), std::move(scales), start, learning,
                                   std::move(roomSteerings));
  reportedScale = localizer.headScale();
}

// A learnt head size is said when it changes: the directions shift with it.
void RobustBinauralLocalization::reportHeadScale(int count) {
  if (localizer.headScale() == reportedScale) return;
  reportedScale = localizer.headScale();
  std::cerr << describe(getName()) << ", frame " << count << ": steering now for a head " << reportedScale
            << " times the size of the " << (steeringName == kMeasuredHeadName ? "measured one" : "sphere")
            << " (HEAD_SCALE learnt from the stream)" << std::endl;
}

// A damaged frame (non-finite or overflowing bins) yields no sources and
// leaves the integration as it was; warned of once.
void RobustBinauralLocalization::warnOfUnusableFrame(int count) {
  if (warnedOfUnusableFrame) return;
  warnedOfUnusableFrame = true;
  std::cerr << describe(getName()) << ", frame " << count
            << ": warning: the input holds non-finite or overflowing values in the analysed band; the frame "
               "yields no sources (later such frames are not reported)"
            << std::endl;
}

void RobustBinauralLocalization::calculate(int, int count, KOLV::Buffer &out) {
  KOLV::RCPtr<Spectrum> spectrum = getInput(spectrumID, count);
  KOLV::RCPtr<KOLV::Vector<KOLV::ObjectRef>> sources(new KOLV::Vector<KOLV::ObjectRef>);
  out[count] = sources;

  checkShape(*spectrum, count);
  if (count == 0) setUp(*spectrum, count);
  PeakList peaks;
  if (!localizer.locate(spectrum->row(0), spectrum->row(1), peaks)) {
    warnOfUnusableFrame(count);
    return;
  }
  reportHeadScale(count);
  for (int i = 0; i < peaks.count; ++i) {
    auto *source = new KOLV::Source;
    directionVector(azimuthOfDirection(peaks.peaks[i].direction), source->x);
    source->power = peaks.peaks[i].value;
    source->id = i;
    source->spare = 0;
    sources->push_back(KOLV::ObjectRef(source));
  }
}
