#include "TalkerTracks.h"

#include <algorithm>
#include <cmath>

namespace localization {

namespace {

constexpr float kLowestAzimuth = -90.0f;
constexpr float kHighestAzimuth = 90.0f;
// deg/s: tracks that meet with rates further apart than this are crossing.
constexpr float kMergeRateDifference = 10.0f;
// Association order: tracks being reported choose first, then paused ones,
// then those on probation.
constexpr int kRanks = 3;
// s: time constant of a fed track's cruise rate, long enough that the
// stalls and jumps of a merged peak do not become the talker's walk.
constexpr float kCruiseTime = 0.5f;
// s: a crossing ends by this time even if the tracks have not parted (the
// talkers stopped or turned), and a silent track is walked on for at most
// this long to see whether another meets it.
constexpr float kLongestCrossing = 2.0f;
// deg: two tracks closing in begin to cross this far apart, before their
// peaks merge and the merged peak stalls their rates.
constexpr float kCrossingDistance = 20.0f;
// deg/s: the slowest walk toward each other that makes two tracks a crossing
// (a track's rate wanders by less while its talker stands), and s: how long
// a track must have been followed before its rate tells.
constexpr float kLeastWalk = 3.0f;
constexpr float kSettledTime = 1.0f;
// s: peaks merged this long before they part again mean the talkers passed
// each other.
constexpr float kMergedTime = 0.2f;
// Per frame: how far a crossing pair's middle moves toward the merged peak,
// and a crossing track toward a peak of its own; deg: the widest gap at which
// two talkers' peaks merge.
constexpr float kMergedPull = 0.05f;
constexpr float kCrossingGain = 0.3f;
constexpr float kMergedGap = 10.0f;

}  // namespace

TalkerTracks::TalkerTracks(const TrackSettings &settings)
    : settings_(settings),
      silentRateFactor_(settings.silentRateTime > 0.0f ? std::exp(-settings.frameSeconds / settings.silentRateTime)
                                                       : 0.0f) {
  settings_.quietHoldFrames = std::min(settings_.quietHoldFrames, settings_.holdFrames);
}

// Live: confirmed and fed lately; reported unless it is a shadow.
bool TalkerTracks::isLive(const Track &t) const {
  const int hold = t.quietEnd ? settings_.quietHoldFrames : settings_.holdFrames;
  return t.stage == Stage::Confirmed && t.silentFrames <= hold && t.streak >= settings_.resumeEstimates;
}

bool TalkerTracks::isReported(const Track &t) const { return isLive(t) && !t.shadow; }

bool TalkerTracks::isPaused(const Track &t) const { return t.stage == Stage::Confirmed && !isLive(t); }

int TalkerTracks::associationRank(const Track &t) const {
  if (t.stage == Stage::Probation) return 2;
  return isLive(t) ? 0 : 1;
}

// Constant velocity: the azimuth moves by rate * dt, and the rate changes by a
// white acceleration (the discrete Wiener process model). Without estimates
// the rate dies away: a silent talker is not seen to move, and carrying a
// rate through a long pause would take the track away from them.
void TalkerTracks::predict(Track &t) const {
  const float dt = settings_.frameSeconds;
  if (t.partner >= 0) {
    t.rate = t.cruise;
    ++t.crossingFrames;
  } else if (t.silentFrames > 0) {
    t.rate *= silentRateFactor_;
  }
  t.azimuth = std::clamp(t.azimuth + t.rate * dt, kLowestAzimuth, kHighestAzimuth);
  const float q = settings_.acceleration * settings_.acceleration;
  const float p00 = t.p00 + dt * (2.0f * t.p01 + dt * t.p11) + q * dt * dt * dt * dt / 4.0f;
  const float p01 = t.p01 + dt * t.p11 + q * dt * dt * dt / 2.0f;
  const float p11 = t.p11 + q * dt * dt;
  t.p00 = p00;
  t.p01 = p01;
  t.p11 = p11;
}

void TalkerTracks::correct(Track &t, const Estimate &e, float support) const {
  const float r = settings_.measurementSpread * settings_.measurementSpread;
  const float s = t.p00 + r;
  const float k0 = t.p00 / s, k1 = t.p01 / s;
  const float innovation = e.azimuth - t.azimuth;
  // While crossing, the merged peak keeps the track alive but does not steer
  // it: it lies between the talkers, nearer the louder one.
  if (t.partner < 0) {
    t.azimuth = std::clamp(t.azimuth + k0 * innovation, kLowestAzimuth, kHighestAzimuth);
    t.rate = std::clamp(t.rate + k1 * innovation, -settings_.maxRate, settings_.maxRate);
    const float p00 = (1.0f - k0) * t.p00, p01 = (1.0f - k0) * t.p01, p11 = t.p11 - k1 * t.p01;
    t.p00 = p00;
    t.p01 = p01;
    t.p11 = p11;
    t.cruise += (t.rate - t.cruise) * std::min(1.0f, settings_.frameSeconds / kCruiseTime);
    t.fedAzimuth = t.azimuth;
  }
  t.power = e.power;
  t.envelope[slot_] = e.power;
  t.support += support;
  t.silentFrames = 0;
  t.heard = false;
  t.quietEnd = false;
  ++t.streak;
}

// Each track takes at most one estimate and each estimate goes to at most one
// track: reported tracks choose first, nearest pairs first, then paused
// tracks (a talker resuming keeps their track), then tracks on probation.
void TalkerTracks::associate(const std::vector<Estimate> &estimates) {
  rank_.resize(tracks_.size());
  for (size_t n = 0; n < tracks_.size(); ++n) rank_[n] = associationRank(tracks_[n]);
  for (int r = 0; r < kRanks; ++r) {
    for (;;) {
      float best = settings_.gate;
      Track *bestTrack = nullptr;
      size_t bestEstimate = 0;
      for (size_t n = 0; n < tracks_.size(); ++n) {
        Track &t = tracks_[n];
        if (rank_[n] != r || t.silentFrames == 0) continue;
        for (size_t i = 0; i < estimates.size(); ++i) {
          const float distance = std::fabs(estimates[i].azimuth - t.azimuth);
          if (!taken_[i] && distance <= best) {
            best = distance;
            bestTrack = &t;
            bestEstimate = i;
          }
        }
      }
      if (!bestTrack) break;
      correct(*bestTrack, estimates[bestEstimate], supportOf(estimates[bestEstimate]));
      taken_[bestEstimate] = true;
      fedBy_[static_cast<size_t>(bestTrack - tracks_.data())] = static_cast<int>(bestEstimate);
    }
  }
}

float TalkerTracks::supportOf(const Estimate &e) const {
  return strongest_ > 0.0f ? std::sqrt(std::max(0.0f, e.power) / strongest_) : 1.0f;
}

// A second estimate near a track already followed is a ghost of the same
// talker (a reflection, a broad peak), not a new one.
bool TalkerTracks::nearFollowedTrack(float azimuth) const {
  for (const Track &t : tracks_)
    if (std::fabs(t.azimuth - azimuth) <= settings_.gate) return true;
  return false;
}

void TalkerTracks::startTrack(const Estimate &e, float support) {
  const float spread = settings_.measurementSpread * settings_.measurementSpread;
  const float rateSpread = settings_.maxRate * settings_.maxRate / 4.0f;
  std::vector<float> envelope(settings_.envelopeFrames, 0.0f);
  envelope[slot_] = e.power;
  tracks_.push_back(Track{Stage::Probation, -1, e.azimuth, 0.0f, spread, 0.0f, rateSpread, e.power, 0, support, 0,
                          false, false, 1, std::move(envelope), false, 0.0f, e.azimuth, -1, 0, 0, 0.0f});
}

// A confirmed track takes the id of the nearest paused track within reach,
// so that a talker who resumes a little away from where they stopped keeps
// their id; otherwise a new one.
void TalkerTracks::confirm(Track &t) {
  Track *resumed = nullptr;
  for (Track &other : tracks_)
    if (isPaused(other) && std::fabs(other.azimuth - t.azimuth) <= settings_.resumeGate &&
        (!resumed || std::fabs(other.azimuth - t.azimuth) < std::fabs(resumed->azimuth - t.azimuth)))
      resumed = &other;
  if (resumed) {
    t.id = resumed->id;
    resumed->silentFrames = settings_.forgetFrames;  // retired below
  } else {
    t.id = nextId_++;
  }
  t.stage = Stage::Confirmed;
  t.streak = std::max(t.streak, settings_.resumeEstimates);
}

void TalkerTracks::retire() {
  for (Track &t : tracks_)
    if (t.stage == Stage::Probation && t.support >= settings_.confirmSupport && !t.shadow) confirm(t);
  tracks_.erase(std::remove_if(tracks_.begin(), tracks_.end(),
                               [&](const Track &t) {
                                 if (t.stage == Stage::Probation) return t.age >= settings_.probationFrames;
                                 return t.silentFrames >= settings_.forgetFrames;
                               }),
                tracks_.end());
}

// Where a track's talker is if they walked on at the cruise rate since its
// last estimate (for at most kLongestCrossing).
float TalkerTracks::walkedAzimuth(const Track &t) const {
  if (t.silentFrames == 0) return t.azimuth;
  const float silence = std::min(static_cast<float>(t.silentFrames) * settings_.frameSeconds, kLongestCrossing);
  return std::clamp(t.fedAzimuth + t.cruise * silence, kLowestAzimuth, kHighestAzimuth);
}

// Two tracks within kCrossingDistance whose talkers walk toward each other:
// each at kLeastWalk at least, on rates learnt over kSettledTime.
bool TalkerTracks::closingIn(const Track &a, const Track &b) const {
  const int settled = static_cast<int>(std::lround(kSettledTime / settings_.frameSeconds));
  const float gap = walkedAzimuth(b) - walkedAzimuth(a);
  const float direction = gap > 0.0f ? 1.0f : -1.0f;
  return a.age >= settled && b.age >= settled && std::fabs(gap) <= kCrossingDistance &&
         a.cruise * direction >= kLeastWalk && b.cruise * direction <= -kLeastWalk;
}

TalkerTracks::Track *TalkerTracks::trackWithId(int id) {
  for (Track &t : tracks_)
    if (t.stage == Stage::Confirmed && t.id == id) return &t;
  return nullptr;
}

// A reported track meeting another (reported, or silent for less than
// kLongestCrossing) as above: both coast from where their talkers have walked
// to, at their cruise rates, until they have passed each other.
void TalkerTracks::beginCrossings() {
  const int longest = static_cast<int>(std::lround(kLongestCrossing / settings_.frameSeconds));
  for (Track &a : tracks_)
    for (Track &b : tracks_) {
      if (&a == &b || a.partner >= 0 || b.partner >= 0 || !isReported(a) || b.stage != Stage::Confirmed ||
          b.silentFrames > longest || !closingIn(a, b))
        continue;
      for (Track *t : {&a, &b}) {
        t->azimuth = walkedAzimuth(*t);
        t->rate = t->cruise;
        t->crossingFrames = 0;
        t->mergedFrames = 0;
      }
      a.partner = b.id;
      b.partner = a.id;
      a.side = walkedAzimuth(b) > a.azimuth ? 1.0f : -1.0f;
      b.side = -a.side;
    }
}

// The track goes on from where it coasted to.
void TalkerTracks::leaveCrossing(Track &t) {
  t.partner = -1;
  t.fedAzimuth = t.azimuth;
}

// A crossing ends once the tracks have passed each other by the gate, after
// kLongestCrossing, or when the partner is gone.
void TalkerTracks::endCrossings() {
  const int longest = static_cast<int>(std::lround(kLongestCrossing / settings_.frameSeconds));
  for (Track &t : tracks_) {
    if (t.partner < 0) continue;
    const Track *other = trackWithId(t.partner);
    const bool passed = other && (other->azimuth - t.azimuth) * t.side <= -settings_.gate;
    // A paused partner's id may have gone to a newly confirmed track.
    if (!other || other->partner != t.id || passed || t.crossingFrames >= longest) leaveCrossing(t);
  }
}

// Peaks heard apart again after the crossing's merged ones: the talkers have
// passed each other, so the track that began on the left takes the right-hand
// peak and the other the left-hand one, wherever their coasting put them
// (a talker's rate is often underestimated while the other's lobe pulls at
// his peaks). Both then follow their talkers as before.
void TalkerTracks::partCrossings(const std::vector<Estimate> &estimates) {
  const int merged = static_cast<int>(std::lround(kMergedTime / settings_.frameSeconds));
  for (size_t n = 0; n < tracks_.size(); ++n) {
    Track &a = tracks_[n];
    Track *b = a.partner >= 0 ? trackWithId(a.partner) : nullptr;
    if (!b || a.id > b->id || a.mergedFrames < merged) continue;
    const float middle = 0.5f * (a.azimuth + b->azimuth);
    const float reach = 0.5f * std::fabs(a.azimuth - b->azimuth) + settings_.gate;
    int left = -1, right = -1;
    for (size_t i = 0; i < estimates.size(); ++i) {
      if (taken_[i] || std::fabs(estimates[i].azimuth - middle) > reach) continue;
      const float azimuth = estimates[i].azimuth;
      if (left < 0 || azimuth < estimates[static_cast<size_t>(left)].azimuth) left = static_cast<int>(i);
      if (right < 0 || azimuth > estimates[static_cast<size_t>(right)].azimuth) right = static_cast<int>(i);
    }
    if (left < 0) continue;
    const Estimate &leftPeak = estimates[static_cast<size_t>(left)], &rightPeak = estimates[static_cast<size_t>(right)];
    if (rightPeak.azimuth - leftPeak.azimuth < settings_.mergeDistance) continue;
    Track &onRight = a.side > 0.0f ? a : *b, &onLeft = a.side > 0.0f ? *b : a;
    leaveCrossing(a);
    leaveCrossing(*b);
    correct(onRight, rightPeak, supportOf(rightPeak));
    correct(onLeft, leftPeak, supportOf(leftPeak));
    taken_[static_cast<size_t>(right)] = taken_[static_cast<size_t>(left)] = true;
    fedBy_[static_cast<size_t>(&onRight - tracks_.data())] = right;
    fedBy_[static_cast<size_t>(&onLeft - tracks_.data())] = left;
  }
}

// While crossing talkers are heard apart, each track follows its own peak by
// kCrossingGain per frame, its rate kept. A single peak taken by the pair is
// the merged one and stands for both talkers: a track whose partner took it
// is fed too (and reported with it), the pair's middle moves a little toward
// it and the tracks close to within the gap at which peaks merge, so that
// rates underestimated before the crossing do not leave both tracks behind
// their talkers.
void TalkerTracks::followCrossingPeaks(const std::vector<Estimate> &estimates) {
  for (size_t n = 0; n < tracks_.size(); ++n) {
    Track &a = tracks_[n];
    Track *b = a.partner >= 0 ? trackWithId(a.partner) : nullptr;
    if (!b || a.id > b->id) continue;
    const size_t m = static_cast<size_t>(b - tracks_.data());
    const int fedA = fedBy_[n], fedB = fedBy_[m];
    const float middle = 0.5f * (a.azimuth + b->azimuth);
    const int single = fedA >= 0 && fedB >= 0 ? -1 : std::max(fedA, fedB);
    if (single < 0) {
      for (const auto &[t, fed] : {std::pair<Track *, int>{&a, fedA}, {b, fedB}})
        if (fed >= 0) t->azimuth += kCrossingGain * (estimates[static_cast<size_t>(fed)].azimuth - t->azimuth);
      continue;
    }
    ++a.mergedFrames;
    ++b->mergedFrames;
    const float shift = kMergedPull * (estimates[static_cast<size_t>(single)].azimuth - middle);
    const float halfGap = std::min(0.5f * std::fabs(a.azimuth - b->azimuth), 0.5f * kMergedGap);
    for (Track *t : {&a, b}) {
      const float away = t->azimuth >= middle ? halfGap : -halfGap;
      t->azimuth = std::clamp(middle + away + shift, kLowestAzimuth, kHighestAzimuth);
      if (t->silentFrames == 0) continue;
      t->silentFrames = 0;
      t->heard = false;
      t->quietEnd = false;
      t->streak = std::max(t->streak + 1, settings_.resumeEstimates);
    }
  }
}

// Two reported tracks that meet moving alike follow one talker (split by a
// broad or doubled peak): the older id stays. Tracks that meet moving apart
// are talkers crossing and stay two.
void TalkerTracks::mergeDuplicates() {
  for (Track &a : tracks_)
    for (Track &b : tracks_)
      if (&a != &b && isLive(a) && isLive(b) && a.id < b.id &&
          std::fabs(a.azimuth - b.azimuth) <= settings_.mergeDistance &&
          std::fabs(a.rate - b.rate) <= kMergeRateDifference) {
        if (b.silentFrames < a.silentFrames) {
          a.azimuth = b.azimuth;
          a.silentFrames = b.silentFrames;
          a.heard = b.heard;
          a.quietEnd = b.quietEnd;
        }
        b.silentFrames = settings_.forgetFrames;  // retired below
      }
}

float TalkerTracks::envelopeMean(const Track &t) const {
  float sum = 0.0f;
  for (float p : t.envelope) sum += p;
  return sum / static_cast<float>(t.envelope.size());
}

// A reflection is heard only while its source is: the weak track follows the
// strong one when it never took an estimate in a frame where the strong one
// took none, and the Pearson correlation of their envelopes (frames without
// an estimate count as power 0) exceeds shadowCorrelation. An envelope that
// stays flat follows nothing.
bool TalkerTracks::follows(const Track &weak, const Track &strong) const {
  const size_t frames = weak.envelope.size();
  float sw = 0.0f, ss = 0.0f, sww = 0.0f, sss = 0.0f, sws = 0.0f;
  for (size_t k = 0; k < frames; ++k) {
    const float w = weak.envelope[k], st = strong.envelope[k];
    if (w > 0.0f && st == 0.0f) return false;
    sw += w;
    ss += st;
    sww += w * w;
    sss += st * st;
    sws += w * st;
  }
  const float n = static_cast<float>(frames);
  const float covariance = sws - sw * ss / n;
  const float weakVariance = sww - sw * sw / n, strongVariance = sss - ss * ss / n;
  if (!(weakVariance > 0.0f) || !(strongVariance > 0.0f)) return false;
  return covariance > settings_.shadowCorrelation * std::sqrt(weakVariance * strongVariance);
}

// A track on probation or live is a shadow while it follows a live track
// with more estimate power over the envelope's frames.
void TalkerTracks::findShadows() {
  const bool enabled = settings_.shadowCorrelation < 1.0f;
  means_.resize(tracks_.size());
  for (size_t n = 0; n < tracks_.size(); ++n) means_[n] = enabled ? envelopeMean(tracks_[n]) : 0.0f;
  for (size_t n = 0; n < tracks_.size(); ++n) {
    Track &t = tracks_[n];
    t.shadow = false;
    if (!enabled || (t.stage == Stage::Confirmed && !isLive(t))) continue;
    for (size_t m = 0; m < tracks_.size() && !t.shadow; ++m)
      t.shadow = m != n && isLive(tracks_[m]) && means_[m] > means_[n] && follows(t, tracks_[m]);
  }
}

void TalkerTracks::collectReported() {
  reported_.clear();
  for (const Track &t : tracks_)
    if (isReported(t)) reported_.push_back({t.id, t.azimuth, t.power});
  std::sort(reported_.begin(), reported_.end(),
            [](const TrackedTalker &a, const TrackedTalker &b) { return a.id < b.id; });
}

void TalkerTracks::update(const std::vector<Estimate> &estimates) {
  slot_ = (slot_ + 1) % settings_.envelopeFrames;
  for (Track &t : tracks_) {
    t.envelope[slot_] = 0.0f;
    predict(t);
    ++t.age;
    // Whether the track is held the full hold is settled once, when its
    // quiet hold has passed, so that a talker heard later does not bring a
    // stopped one's track back.
    t.heard = t.heard || !estimates.empty();
    if (++t.silentFrames == settings_.quietHoldFrames + 1) t.quietEnd = !t.heard;
    // A track that has gone unfed for longer than the hold pauses: it must
    // take new estimates again before it is reported.
    if (t.silentFrames == settings_.holdFrames + 1) t.streak = 0;
  }
  strongest_ = 0.0f;
  for (const Estimate &e : estimates) strongest_ = std::max(strongest_, e.power);
  taken_.assign(estimates.size(), false);
  fedBy_.assign(tracks_.size(), -1);
  partCrossings(estimates);
  associate(estimates);
  followCrossingPeaks(estimates);
  for (size_t i = 0; i < estimates.size(); ++i)
    if (!taken_[i] && !nearFollowedTrack(estimates[i].azimuth)) startTrack(estimates[i], supportOf(estimates[i]));
  findShadows();
  mergeDuplicates();
  retire();
  endCrossings();
  beginCrossings();
  collectReported();
}

}  // namespace localization
