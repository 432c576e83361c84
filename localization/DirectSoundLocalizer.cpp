#include "DirectSoundLocalizer.h"

#include <algorithm>
#include <cmath>

namespace localization {

DirectSoundLocalizer::DirectSoundLocalizer(const LocalizerSettings &settings, InterauralSteering steering)
    : DirectSoundLocalizer(settings, {std::move(steering)}, {1.0f}, 0, HeadScaleLearning{}) {}

DirectSoundLocalizer::DirectSoundLocalizer(const LocalizerSettings &settings, std::vector<InterauralSteering> steerings,
                                           std::vector<float> scales, int start, const HeadScaleLearning &learning,
                                           std::vector<InterauralSteering> roomSteerings)
    : settings_(settings), steerings_(std::move(steerings)), roomSteerings_(std::move(roomSteerings)),
      scales_(std::move(scales)), current_(start), learning_(learning) {
  const InterauralSteering &table = steering();
  settings_.integrationFrames = std::max(1, settings_.integrationFrames);
  settings_.maxPeaks = std::max(0, std::min(settings_.maxPeaks, kMaxPeaks));
  bins_ = table.highBin() - table.lowBin();
  trust_ = BinTrust(settings_.trust, table.lowBin(), table.highBin());
  leaders_ = LeadingDirections(settings_.room);
  power_.assign(static_cast<size_t>(table.highBin()), 0.0f);
  frame_.assign(static_cast<size_t>(bins_), Contribution{});
  weight_.assign(static_cast<size_t>(bins_), 0.0f);
  history_.assign(static_cast<size_t>(bins_) * settings_.integrationFrames, Contribution{});
  sum_.assign(static_cast<size_t>(bins_), Contribution{});
  strength_.assign(static_cast<size_t>(bins_), 0.0f);
  unit_.assign(static_cast<size_t>(bins_), Contribution{});
}

// The bin's normalised cross-spectrum and level difference, the unit vector
// (Re X, Im X, delta) compared with the steering's (Re S, Im S, d): with
// phase-only cues, X = L conj(R) / |L conj(R)| and delta is not used.
bool DirectSoundLocalizer::readFrame(const std::complex<float> *left, const std::complex<float> *right) {
  const InterauralSteering &table = steering();
  const int low = table.lowBin();
  for (int j = low; j < table.highBin(); ++j) {
    const float p = std::norm(left[j]) + std::norm(right[j]);
    if (!std::isfinite(p)) return false;
    power_[j] = p;
  }
  trust_.weigh(power_.data(), weight_.data());
  const float loudness = 1.0f - settings_.phatBeta;
  for (int k = 0; k < bins_; ++k) {
    const int j = low + k;
    // L conj(R) written out: the library's complex product checks for
    // infinities through a slow path.
    const std::complex<float> cross(left[j].real() * right[j].real() + left[j].imag() * right[j].imag(),
                                    left[j].imag() * right[j].real() - left[j].real() * right[j].imag());
    const float p = power_[j];
    // Not std::abs, whose overflow-safe hypot costs more than the rest of the
    // bin: a bin so large that this overflows is left out below.
    const float magnitude = std::sqrt(cross.real() * cross.real() + cross.imag() * cross.imag());
    Contribution &c = frame_[k];
    if (magnitude == 0.0f || weight_[k] == 0.0f || !std::isfinite(magnitude)) {
      c = Contribution{};
      continue;
    }
    const float w = loudness == 0.0f ? weight_[k] : weight_[k] * std::pow(p, loudness);
    const float scale = table.usesLevel() ? 2.0f / p : 1.0f / magnitude;
    c.re = w * cross.real() * scale;
    c.im = w * cross.imag() * scale;
    c.level = table.usesLevel() ? w * (std::norm(left[j]) - std::norm(right[j])) / p : 0.0f;
    c.weight = w;
  }
  return true;
}

// The ring holds the last integrationFrames frames; the sums are kept by
// adding the newest and dropping the oldest, and formed afresh once per turn
// of the ring so that rounding cannot pile up.
void DirectSoundLocalizer::integrate() {
  const int frames = settings_.integrationFrames;
  newest_ = (newest_ + 1) % frames;
  Contribution *slot = &history_[static_cast<size_t>(newest_) * bins_];
  if (newest_ == 0) {
    std::copy(frame_.begin(), frame_.end(), slot);
    std::fill(sum_.begin(), sum_.end(), Contribution{});
    for (int f = 0; f < frames; ++f) {
      const Contribution *row = &history_[static_cast<size_t>(f) * bins_];
      for (int k = 0; k < bins_; ++k) {
        sum_[k].re += row[k].re;
        sum_[k].im += row[k].im;
        sum_[k].level += row[k].level;
        sum_[k].weight += row[k].weight;
      }
    }
    return;
  }
  for (int k = 0; k < bins_; ++k) {
    sum_[k].re += frame_[k].re - slot[k].re;
    sum_[k].im += frame_[k].im - slot[k].im;
    sum_[k].level += frame_[k].level - slot[k].level;
    sum_[k].weight += frame_[k].weight - slot[k].weight;
    slot[k] = frame_[k];
  }
}

namespace {

// How well a bin's unit vector agrees with a direction's cues: the cosine c,
// or for a sharpened spectrum c^(2k+1), which narrows each bin's lobe so that
// a loud source's broad lobes bury a quieter one's peak less. An odd power
// keeps the mean over random phases (noise, diffuse reverberation) at 0.
template <int Squarings>
inline float sharpened(float cosine) {
  float c = cosine;
  const float square = cosine * cosine;
  for (int s = 0; s < Squarings; ++s) c *= square;
  return c;
}

// With level cues a bin's agreement counts only where it is positive: the
// level difference of a bin that one talker dominates has the opposite sign
// at every direction on the other side, and would push them all below zero,
// burying a second talker there. Written without a comparison, which would
// keep the compiler from vectorising the spectrum's loop (3.6 times slower);
// the value is max(0, cosine) exactly.
inline float levelAgreement(float cosine) { return 0.5f * (cosine + std::fabs(cosine)); }

// Adds one bin's agreement with directions 0 .. count-1 of the rows given.
template <int Squarings>
inline void addBin(const float *__restrict sr, const float *__restrict si, const float *__restrict sl, float ur,
                   float ui, float ul, float strength, float *__restrict P, int count) {
  if (sl) {
    for (int n = 0; n < count; ++n)
      P[n] += strength * sharpened<Squarings>(levelAgreement(sr[n] * ur + si[n] * ui + sl[n] * ul));
  } else {
    for (int n = 0; n < count; ++n) P[n] += strength * sharpened<Squarings>(sr[n] * ur + si[n] * ui);
  }
}

// Every direction: the count known when compiled, for the spectrum's loop.
template <int Squarings>
void addBinEverywhere(const float *sr, const float *si, const float *sl, float ur, float ui, float ul, float strength,
                      float *P, int) {
  addBin<Squarings>(sr, si, sl, ur, ui, ul, strength, P, kPaddedDirections);
}

using BinAdder = void (*)(const float *, const float *, const float *, float, float, float, float, float *, int);

// The adder for every direction or for a run of them.
BinAdder binAdder(int squarings, bool everywhere) {
  switch (squarings) {
    case 0: return everywhere ? addBinEverywhere<0> : addBin<0>;
    case 1: return everywhere ? addBinEverywhere<1> : addBin<1>;
    case 2: return everywhere ? addBinEverywhere<2> : addBin<2>;
    case 3: return everywhere ? addBinEverywhere<3> : addBin<3>;
    default: return everywhere ? addBinEverywhere<4> : addBin<4>;
  }
}

float sharpenedAt(int squarings, float cosine) {
  switch (squarings) {
    case 0: return sharpened<0>(cosine);
    case 1: return sharpened<1>(cosine);
    case 2: return sharpened<2>(cosine);
    case 3: return sharpened<3>(cosine);
    default: return sharpened<4>(cosine);
  }
}

}  // namespace

// P[n] = sum_j g_j |C_j| f(u_j . S_nj) / sum_j g_j w_j, with C_j the bin's
// integrated vector, u_j its direction, w_j its summed weights and g_j its
// coherence factor: near 1 where one source dominates every bin.
void DirectSoundLocalizer::computeSpectrum() {
  const InterauralSteering &table = steering();
  float *__restrict P = spectrum_;
  std::fill(P, P + kPaddedDirections, 0.0f);
  float total = 0.0f;
  const int low = table.lowBin();
  const BinAdder add = binAdder(settings_.sharpness, true);
  const float exponent = leaders_.inRoom() ? settings_.roomCoherenceExponent : settings_.coherenceExponent;
  for (int k = 0; k < bins_; ++k) {
    const Contribution &c = sum_[k];
    strength_[k] = 0.0f;
    if (!(c.weight > 0.0f)) continue;
    const float length = std::sqrt(c.re * c.re + c.im * c.im + c.level * c.level);
    if (!(length > 0.0f)) continue;
    const float consistency = std::min(1.0f, length / c.weight);
    // The room's default exponent 1 spares a power per bin (1.7 us a frame).
    const float g = exponent == 1.0f ? consistency : exponent > 0.0f ? std::pow(consistency, exponent) : 1.0f;
    strength_[k] = g * length;
    unit_[k] = {c.re / length, c.im / length, c.level / length, 0.0f};
    total += g * c.weight;
    const int j = low + k;
    add(table.real(j), table.imag(j), table.usesLevel() ? table.level(j) : nullptr, unit_[k].re,
        unit_[k].im, unit_[k].level, strength_[k], P, kPaddedDirections);
  }
  normaliser_ = std::max(total, settings_.minEvidence * static_cast<float>(bins_) * settings_.integrationFrames);
  if (normaliser_ > 0.0f)
    for (int n = 0; n < kPaddedDirections; ++n) P[n] /= normaliser_;
}

// The highest value of another steering's spectrum (this frame's bins and
// weights) within searchDirections of `direction`.
float DirectSoundLocalizer::peakNear(const InterauralSteering &other, int direction) const {
  const int first = std::max(0, direction - learning_.searchDirections);
  const int count = std::min(kDirections - 1, direction + learning_.searchDirections) - first + 1;
  std::array<float, kDirections> P{};
  const BinAdder add = binAdder(settings_.sharpness, false);
  const int low = other.lowBin();
  for (int k = 0; k < bins_; ++k) {
    if (strength_[k] == 0.0f) continue;
    const int j = low + k;
    add(other.real(j) + first, other.imag(j) + first, other.usesLevel() ? other.level(j) + first : nullptr,
        unit_[k].re, unit_[k].im, unit_[k].level, strength_[k], P.data(), count);
  }
  float highest = -1.0f;
  for (int n = 0; n < count; ++n) highest = std::max(highest, P[n]);
  return normaliser_ > 0.0f ? highest / normaliser_ : 0.0f;
}

// Every everyFrames frames whose highest peak reaches minPeak, the sizes
// either side of the one in use are scored by their spectrum's peak near the
// frame's highest; after evidenceFrames such frames the steering moves to the
// neighbour that peaked higher, if it beat the size in use by the margin, and
// the count starts afresh.
void DirectSoundLocalizer::compareHeadScales(const Peak &highest) {
  if (highest.value < learning_.minPeak) return;
  if (++frames_ % learning_.everyFrames != 0) return;
  evidence_[1] += highest.value;
  for (int side : {-1, 1}) {
    const int neighbour = current_ + side;
    if (neighbour >= 0 && neighbour < static_cast<int>(steerings_.size()))
      evidence_[static_cast<size_t>(1 + side)] +=
          peakNear(steeringsInUse()[static_cast<size_t>(neighbour)], highest.direction);
  }
  if (++compared_ < learning_.evidenceFrames) return;
  const size_t higher = evidence_[0] > evidence_[2] ? 0 : 2;
  if (evidence_[higher] > evidence_[1] * (1.0 + learning_.margin)) current_ += static_cast<int>(higher) - 1;
  evidence_ = {};
  compared_ = 0;
}

// How much of a source alone at direction m shows at each candidate's
// direction, over how much it shows at m itself: with this frame's bin
// strengths, sum_j strength_j f(S_nj . S_mj) over sum_j strength_j f(S_mj . S_mj).
// One pass over the bins serves every candidate.
void DirectSoundLocalizer::sidelobeShares(int m, const PeakList &candidates, float *share) const {
  const InterauralSteering &table = steering();
  std::fill(share, share + candidates.count, 0.0f);
  float self = 0.0f;
  const int low = table.lowBin();
  const bool level = table.usesLevel();
  for (int k = 0; k < bins_; ++k) {
    if (strength_[k] == 0.0f) continue;
    const int j = low + k;
    const float *sr = table.real(j), *si = table.imag(j), *sl = table.level(j);
    auto dot = [&](int n) {
      return level ? levelAgreement(sr[n] * sr[m] + si[n] * si[m] + sl[n] * sl[m]) : sr[n] * sr[m] + si[n] * si[m];
    };
    self += strength_[k] * sharpenedAt(settings_.sharpness, dot(m));
    for (int i = 0; i < candidates.count; ++i)
      share[i] += strength_[k] * sharpenedAt(settings_.sharpness, dot(candidates.peaks[i].direction));
  }
  for (int i = 0; i < candidates.count; ++i) share[i] = self > 0.0f ? share[i] / self : 0.0f;
}

// The highest peak first; each further one by what it rises above the
// sidelobes of those chosen (a source at m shows at n as P(m) times the
// agreement of n with m over that of m with itself). They are left in the
// order chosen, the highest first, for the room test.
void DirectSoundLocalizer::selectPeaks(PeakList &peaks) const {
  const PeakList candidates = pickPeaks(spectrum_, settings_.threshold);
  peaks.count = 0;
  std::array<bool, kMaxPeaks> chosen{};
  std::array<float, kMaxPeaks> residual;  // each candidate's value less the chosen peaks' sidelobes
  for (int i = 0; i < candidates.count; ++i) residual[i] = candidates.peaks[i].value;
  while (peaks.count < settings_.maxPeaks) {
    int best = -1;
    float bestValue =
        peaks.count == 0 ? settings_.threshold : std::max(settings_.threshold, settings_.secondThreshold);
    for (int i = 0; i < candidates.count; ++i)
      if (!chosen[i] && residual[i] > bestValue) {
        bestValue = residual[i];
        best = i;
      }
    if (best < 0) break;
    chosen[best] = true;
    const Peak &p = candidates.peaks[best];
    peaks.peaks[peaks.count++] = p;
    if (peaks.count == settings_.maxPeaks) continue;
    std::array<float, kMaxPeaks> share;
    sidelobeShares(p.direction, candidates, share.data());
    for (int i = 0; i < candidates.count; ++i)
      if (!chosen[i]) residual[i] -= p.value * share[i];
  }
}

void DirectSoundLocalizer::sortByDirection(PeakList &peaks) {
  std::sort(peaks.peaks.begin(), peaks.peaks.begin() + peaks.count,
            [](const Peak &a, const Peak &b) { return a.direction < b.direction; });
}

bool DirectSoundLocalizer::locate(const std::complex<float> *left, const std::complex<float> *right,
                                  PeakList &peaks) {
  peaks.count = 0;
  if (!readFrame(left, right)) return false;
  integrate();
  computeSpectrum();
  selectPeaks(peaks);
  if (learning_.enabled && steerings_.size() > 1 && peaks.count > 0) compareHeadScales(peaks.peaks[0]);
  leaders_.admit(peaks, spectrum_);
  sortByDirection(peaks);
  return true;
}

}  // namespace localization
