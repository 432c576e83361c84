#include "WindowedIva.h"

#include <algorithm>
#include <armadillo>
#include <cmath>
#include <stdexcept>

#include "Decompositions.h"
#include "LaneSums.h"

namespace KOLV {
namespace separation {

namespace {

// A frame's weight is capped where its source norm falls below this share of
// the window's mean norm (with the Gaussian model 15 dB below the mean
// power): near-silent frames would otherwise dominate, and the noise alone
// before the talkers start tells nothing about them.
constexpr float kRelativeNormFloor = 3e-2f;

// The rows' scale is left open by the separation (projection back fixes the
// output's) and, with the Gaussian model, by the update too: unchecked it
// drifts until the norms overflow. Unit rows keep it put.
void normaliseRows(Demixing2 &w) {
  for (auto &row : w.w) {
    const float length = std::sqrt(std::norm(row[0]) + std::norm(row[1]));
    row[0] /= length;
    row[1] /= length;
  }
}

// The most a projection back may raise a source (6 dB, on unit rows):
// where the demixing matrix is nearly singular (an early estimate, low bins
// where both ears hear nearly the same) its inverse is large and would
// amplify the estimation error and the noise with the source.
constexpr float kMaxProjectionGain = 2.0f;

// Talkers start out of quiet where the last interval's frames bring this
// share of the window's energy.
constexpr double kOnsetShare = 0.5;

}  // namespace

WindowedIva::WindowedIva(const WindowedIvaSettings &settings)
    : settings_(settings), span_(2 * settings.capacity) {
  if (settings.bins < 1 || settings.capacity < 1 || settings.minPasses < 1 ||
      settings.coldPasses < settings.minPasses)
    throw std::invalid_argument("WindowedIva: bins, capacity and passes must be positive");
  const size_t slots = static_cast<size_t>(settings.bins) * span_;
  re0_.assign(slots, 0.0f);
  im0_.assign(slots, 0.0f);
  re1_.assign(slots, 0.0f);
  im1_.assign(slots, 0.0f);
  frameEnergy_.assign(static_cast<size_t>(span_), 0.0);
  norm0_.assign(static_cast<size_t>(settings.capacity), 0.0f);
  norm1_.assign(static_cast<size_t>(settings.capacity), 0.0f);
  focus_.assign(static_cast<size_t>(settings.capacity), 1.0f);
  demixing_.assign(static_cast<size_t>(settings.bins), Demixing2());
  running_.assign(static_cast<size_t>(settings.bins), Demixing2());
  projected_.assign(static_cast<size_t>(settings.bins), Demixing2());
  earPower_.assign(static_cast<size_t>(settings.bins), {1.0f, 1.0f});
  covariances_.resize(static_cast<size_t>(settings.bins));
}

// Keeps the newest `capacity` frames, moved to the front.
void WindowedIva::shiftHistory() {
  const int kept = settings_.capacity, from = span_ - kept;
  for (std::vector<float> *plane : {&re0_, &im0_, &re1_, &im1_})
    for (int k = 0; k < settings_.bins; ++k) {
      float *row = plane->data() + static_cast<size_t>(k) * span_;
      std::copy(row + from, row + span_, row);
    }
  std::copy(frameEnergy_.begin() + from, frameEnergy_.end(), frameEnergy_.begin());
  base_ += from;
}

void WindowedIva::append(const std::complex<float> *mic0, const std::complex<float> *mic1) {
  if (appended_ - base_ == span_) shiftHistory();
  const long long slot = slotOf(appended_);
  double energy = 0.0;
  for (int k = 0; k < settings_.bins; ++k) {
    const size_t at = static_cast<size_t>(k) * span_ + slot;
    re0_[at] = mic0[k].real();
    im0_[at] = mic0[k].imag();
    re1_[at] = mic1[k].real();
    im1_[at] = mic1[k].imag();
    energy += static_cast<double>(std::norm(mic0[k])) + std::norm(mic1[k]);
  }
  frameEnergy_[slot] = energy;
  ++appended_;
}

void WindowedIva::appendSilence() {
  if (appended_ - base_ == span_) shiftHistory();
  const long long slot = slotOf(appended_);
  for (std::vector<float> *plane : {&re0_, &im0_, &re1_, &im1_})
    for (int k = 0; k < settings_.bins; ++k) (*plane)[static_cast<size_t>(k) * span_ + slot] = 0.0f;
  frameEnergy_[slot] = 0.0;
  ++appended_;
}

double WindowedIva::energyBetween(long long first, long long end) const {
  double sum = 0.0;
  for (long long frame = first; frame < end; ++frame) sum += frameEnergy_[slotOf(frame)];
  return sum;
}

// A window whose energy is all new gets the cold-start passes, one that
// moved by a few quiet frames a single pass: every part of the signal is
// seen about coldPasses times in all, and a talker who starts speaking gets
// many passes at once.
int WindowedIva::passesFor(long long first, long long end, long long focus) const {
  const double energy = energyBetween(first, end);
  if (!(energy > 0.0)) return 0;
  const double entered = energyBetween(std::max(first, lastEnd_), end);
  double left = 0.0;
  if (lastFirst_ < first) left = lastFirst_ >= base_ ? energyBetween(lastFirst_, std::min(first, lastEnd_)) : energy;
  double changed = entered + left;
  // A focus that moved by d reweighs the frames ahead of it against those
  // behind by exp(d / memory + d / memoryAhead) (no more than exp(2 d /
  // focusScale())): with the whole recording in reach no frame enters or
  // leaves, and this alone changes the estimate.
  // Live, every frame is behind the focus and their weights keep their
  // ratios.
  if (settings_.memory > 0.0) {
    const long long split = std::clamp(focus + 1, first, end);
    const double ahead = energyBetween(split, end), behind = energy - ahead;
    const double moved = std::fabs(static_cast<double>(focus - lastFocus_)) / focusScale();
    changed = std::max(changed, 2.0 * std::min(ahead, behind) * std::min(1.0, moved));
  }
  if (!(changed > 0.0)) return 0;
  const double share = std::min(1.0, changed / energy);
  const int passes = static_cast<int>(std::ceil(settings_.coldPasses * share));
  return std::clamp(passes, settings_.minPasses, settings_.coldPasses);
}

bool WindowedIva::estimateDue(long long first, long long end) const {
  if (end - lastEnd_ >= settings_.interval) return true;
  const double energy = energyBetween(first, end);
  return energy > 0.0 && energyBetween(std::max(first, lastEnd_), end) >= settings_.eagerShare * energy;
}

// The shorter of the two time constants (one ahead of 0 weighs flat).
double WindowedIva::focusScale() const {
  return settings_.memoryAhead > 0.0 ? std::min(settings_.memory, settings_.memoryAhead) : settings_.memory;
}

void WindowedIva::focusWeights(long long first, int frames, long long focus) {
  if (settings_.memory <= 0.0) return;
  for (int t = 0; t < frames; ++t) {
    const double distance = static_cast<double>(first + t - focus);
    if (distance <= 0.0)
      focus_[t] = static_cast<float>(std::exp(distance / settings_.memory));
    else
      focus_[t] = settings_.memoryAhead > 0.0 ? static_cast<float>(std::exp(-distance / settings_.memoryAhead)) : 1.0f;
  }
}

void WindowedIva::estimate(long long first, long long end, long long focus) {
  if (first < base_ || end > appended_ || end - first > settings_.capacity || first > end)
    throw std::out_of_range("WindowedIva: window [" + std::to_string(first) + ", " + std::to_string(end) +
                            ") is not within the kept frames");
  lastPasses_ = passesFor(first, end, focus);
  lastFirst_ = first;
  lastEnd_ = end;
  lastFocus_ = focus;
  if (lastPasses_ == 0) return;
  const bool fresh = settings_.restartSpan > 0 && sourcesStarted(first, end);
  if (fresh) first = std::max(first, onset_ - settings_.restartLead);
  smoothing_ = fresh ? settings_.onsetSmoothing : 0;
  const int frames = static_cast<int>(end - first);
  focusWeights(first, frames, focus);
  runPasses(first, frames, lastPasses_);
  if (fresh && (lastRestart_ < onset_ || end - lastRestart_ >= settings_.interval)) restart(first, frames);
  updateProjection();
}

void WindowedIva::runPasses(long long first, int frames, int passes) {
  for (int pass = 0; pass < passes; ++pass) {
    if (!sourceNorms(first, frames)) break;
    weigh(norm0_, frames);
    weigh(norm1_, frames);
    updateBins(first, frames);
  }
}

// Whether [first, end) ends within restartSpan of the talkers' start out of
// quiet: an estimate whose last interval brought half the window's energy
// or more (the first words after a pause or the noise alone).
bool WindowedIva::sourcesStarted(long long first, long long end) {
  if (onset_ < 0 || end - onset_ > settings_.restartSpan) {
    const long long recent = std::max(first, end - settings_.interval);
    const double energy = energyBetween(first, end);
    if (energy > 0.0 && energyBetween(recent, end) >= kOnsetShare * energy) onset_ = recent;
  }
  return onset_ >= 0 && end - onset_ <= settings_.restartSpan;
}

// The negative log-likelihood of frames [first, first + frames) under the
// source model with the current matrices, each source at its most likely
// scale (so that unit rows compare fairly), up to a constant: with the
// time-varying Gaussian model bins * sum over sources and frames of log r
// (r = |y|^2 / bins, floored as the weights are), with the Laplacian one
// 2 frames bins * sum over sources of log (sum over frames of |y|); then
// - 2 frames * sum over bins of log |det W|.
double WindowedIva::negativeLogLikelihood(long long first, int frames) {
  sourceNorms(first, frames);
  const double bins = settings_.bins, tiny = std::numeric_limits<float>::min();
  double sum = 0.0;
  for (const std::vector<float> *norms : {&norm0_, &norm1_}) {
    const float *r = norms->data();
    if (settings_.model == SourceModel::Laplace) {
      double total = 0.0;
      for (int t = 0; t < frames; ++t) total += std::sqrt(r[t]);
      sum += 2.0 * frames * bins * std::log(std::max(total, tiny));
      continue;
    }
    double mean = 0.0;
    for (int t = 0; t < frames; ++t) mean += r[t] / bins;
    const double floor = std::max(kRelativeNormFloor * mean / frames, tiny);
    for (int t = 0; t < frames; ++t) sum += bins * std::log(std::max(r[t] / bins, floor));
  }
  double logDet = 0.0;
  for (const Demixing2 &w : demixing_)
    logDet += std::log(std::max<double>(std::abs(w.w[0][0] * w.w[1][1] - w.w[0][1] * w.w[1][0]), tiny));
  return sum - 2.0 * frames * logDet;
}

// An estimate from the identity over the same frames, its rows in the order
// of the running one's; it takes over where it explains the frames better.
// A warm start that saw the talkers' first few frames can settle in a poor
// optimum and keep it; a fresh one each tenth of a second gets out of it.
void WindowedIva::restart(long long first, int frames) {
  running_ = demixing_;
  const double runningCost = negativeLogLikelihood(first, frames);
  std::fill(demixing_.begin(), demixing_.end(), Demixing2());
  runPasses(first, frames, settings_.coldPasses);
  alignRows(running_, first, frames);
  if (!(negativeLogLikelihood(first, frames) < runningCost)) demixing_ = running_;
  lastRestart_ = lastEnd_;
}

// Swaps the rows (in every bin) where, summed over the bins, each output is
// more coherent over frames [first, first + frames) with the other previous
// output than with its own.
void WindowedIva::alignRows(const std::vector<Demixing2> &previous, long long first, int frames) {
  double kept = 0.0, swapped = 0.0;
  for (int k = 0; k < settings_.bins; ++k) {
    const size_t at = static_cast<size_t>(k) * span_ + slotOf(first);
    std::complex<double> c[2][2] = {};
    double pn[2] = {0.0, 0.0}, po[2] = {0.0, 0.0};
    for (int t = 0; t < frames; ++t) {
      const std::complex<float> x0(re0_[at + t], im0_[at + t]), x1(re1_[at + t], im1_[at + t]);
      std::complex<float> yn[2], yo[2];
      for (int i = 0; i < 2; ++i) {
        yn[i] = demixing_[k].w[i][0] * x0 + demixing_[k].w[i][1] * x1;
        yo[i] = previous[k].w[i][0] * x0 + previous[k].w[i][1] * x1;
        pn[i] += std::norm(yn[i]);
        po[i] += std::norm(yo[i]);
      }
      for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j) c[i][j] += std::complex<double>(yn[i] * std::conj(yo[j]));
    }
    const auto coherence = [&](int i, int j) {
      const double p = pn[i] * po[j];
      return p > 0.0 ? std::norm(c[i][j]) / p : 0.0;
    };
    kept += coherence(0, 0) + coherence(1, 1);
    swapped += coherence(0, 1) + coherence(1, 0);
  }
  if (swapped > kept)
    for (Demixing2 &w : demixing_) std::swap(w.w[0], w.w[1]);
}

// norm_i[t] = sum over bins of |y_i(t)|^2 with the current matrices; false
// when the window holds no energy.
bool WindowedIva::sourceNorms(long long first, int frames) {
  std::fill(norm0_.begin(), norm0_.begin() + frames, 0.0f);
  std::fill(norm1_.begin(), norm1_.begin() + frames, 0.0f);
  float *r0 = norm0_.data(), *r1 = norm1_.data();
  for (int k = 0; k < settings_.bins; ++k) {
    const size_t at = static_cast<size_t>(k) * span_ + slotOf(first);
    const float *a = re0_.data() + at, *b = im0_.data() + at, *c = re1_.data() + at, *d = im1_.data() + at;
    const Demixing2 &w = demixing_[k];
    const float w00r = w.w[0][0].real(), w00i = w.w[0][0].imag(), w01r = w.w[0][1].real(), w01i = w.w[0][1].imag();
    const float w10r = w.w[1][0].real(), w10i = w.w[1][0].imag(), w11r = w.w[1][1].real(), w11i = w.w[1][1].imag();
    for (int t = 0; t < frames; ++t) {
      const float y0r = w00r * a[t] - w00i * b[t] + w01r * c[t] - w01i * d[t];
      const float y0i = w00r * b[t] + w00i * a[t] + w01r * d[t] + w01i * c[t];
      const float y1r = w10r * a[t] - w10i * b[t] + w11r * c[t] - w11i * d[t];
      const float y1i = w10r * b[t] + w10i * a[t] + w11r * d[t] + w11i * c[t];
      r0[t] += y0r * y0r + y0i * y0i;
      r1[t] += y1r * y1r + y1i * y1i;
    }
  }
  double total = 0.0;
  for (int t = 0; t < frames; ++t) total += static_cast<double>(r0[t]) + r1[t];
  return total > 0.0 && std::isfinite(total);
}

// Turns the summed powers of one source into the weights of its frames.
void WindowedIva::weigh(std::vector<float> &norms, int frames) const {
  float *r = norms.data();
  const float bins = static_cast<float>(settings_.bins);
  for (int t = 0; t < frames; ++t)
    r[t] = settings_.model == SourceModel::Laplace ? std::sqrt(r[t]) : r[t] / bins;
  double mean = 0.0;
  for (int t = 0; t < frames; ++t) mean += r[t];
  mean /= frames;
  const float floor = std::max(kRelativeNormFloor * static_cast<float>(mean), std::numeric_limits<float>::min());
  for (int t = 0; t < frames; ++t) r[t] = focus_[t] / std::max(r[t], floor);
}

// V_i = mean of weight_i(t) x x^H over the window, then the IP2 update. The
// sums over frames run in lanes (LaneSums.h).
void WindowedIva::updateBins(long long first, int frames) {
  constexpr int kLanes = 8;
  const float *g0 = norm0_.data(), *g1 = norm1_.data();
  for (int k = 0; k < settings_.bins; ++k) {
    const size_t at = static_cast<size_t>(k) * span_ + slotOf(first);
    const float *a = re0_.data() + at, *b = im0_.data() + at, *c = re1_.data() + at, *d = im1_.data() + at;
    // Per source i: weight_i times |x0|^2, |x1|^2, Re and Im of x0 conj(x1).
    float sums[2][4][kLanes] = {};
    const auto add = [&](int t, int lane) {
      const float p[4] = {a[t] * a[t] + b[t] * b[t], c[t] * c[t] + d[t] * d[t], a[t] * c[t] + b[t] * d[t],
                          b[t] * c[t] - a[t] * d[t]};
      for (int q = 0; q < 4; ++q) {
        sums[0][q][lane] += g0[t] * p[q];
        sums[1][q][lane] += g1[t] * p[q];
      }
    };
    int t = 0;
    for (; t + kLanes <= frames; t += kLanes)
      for (int lane = 0; lane < kLanes; ++lane) add(t + lane, lane);
    for (int lane = 0; t < frames; ++t, ++lane) add(t, lane);
    const double n = frames;
    for (int i = 0; i < 2; ++i)
      covariances_[k][i] = {addLanes(sums[i][0]) / n, addLanes(sums[i][1]) / n,
                            {addLanes(sums[i][2]) / n, addLanes(sums[i][3]) / n}};
  }
  for (int k = 0; k < settings_.bins; ++k) {
    const std::array<Hermitian2, 2> v = smoothing_ > 0 ? smoothedCovariances(k) : covariances_[k];
    if (iterativeProjection2(v[0], v[1], demixing_[k])) normaliseRows(demixing_[k]);
  }
}

// Bin k's covariances averaged with those of the `smoothing_` bins on either
// side, each bin's pair scaled to unit power so that a loud bin does not
// decide its quieter neighbours' matrices.
std::array<Hermitian2, 2> WindowedIva::smoothedCovariances(int k) const {
  std::array<Hermitian2, 2> sum;
  const int from = std::max(0, k - smoothing_), to = std::min(settings_.bins - 1, k + smoothing_);
  for (int j = from; j <= to; ++j) {
    const std::array<Hermitian2, 2> &v = covariances_[j];
    const double power = v[0].d0 + v[0].d1 + v[1].d0 + v[1].d1;
    if (!(power > 0.0)) continue;
    for (int i = 0; i < 2; ++i) {
      sum[i].d0 += v[i].d0 / power;
      sum[i].d1 += v[i].d1 / power;
      sum[i].off += v[i].off / power;
    }
  }
  return sum;
}

// Row i of W scaled by a_mi, A = W^-1: source i as heard at microphone m.
void WindowedIva::updateProjection() {
  arma::cx_fmat unmixing(2, 2), mixing(2, 2);
  for (int k = 0; k < settings_.bins; ++k) {
    for (int i = 0; i < 2; ++i)
      for (int m = 0; m < 2; ++m) unmixing(i, m) = demixing_[k].w[i][m];
    pseudoInverse(unmixing, mixing);
    for (int i = 0; i < 2; ++i) earPower_[k][i] = std::norm(mixing(0, i)) + std::norm(mixing(1, i));
    for (int i = 0; i < 2; ++i) {
      const int m = settings_.reference == kOwnMicrophone ? i : settings_.reference;
      std::complex<float> gain = mixing(m, i);
      const float rowGain = std::abs(gain) * static_cast<float>(arma::norm(unmixing.row(i)));
      if (rowGain > kMaxProjectionGain) gain *= kMaxProjectionGain / rowGain;
      for (int c = 0; c < 2; ++c) projected_[k].w[i][c] = gain * unmixing(i, c);
    }
  }
}

void WindowedIva::separate(long long frame, std::complex<float> *out0, std::complex<float> *out1) const {
  if (frame < base_ || frame >= appended_ || appended_ - frame > settings_.capacity)
    throw std::out_of_range("WindowedIva: frame " + std::to_string(frame) + " is not kept");
  for (int k = 0; k < settings_.bins; ++k) {
    const size_t at = static_cast<size_t>(k) * span_ + slotOf(frame);
    const std::complex<float> x0(re0_[at], im0_[at]), x1(re1_[at], im1_[at]);
    const Demixing2 &p = projected_[k];
    out0[k] = p.w[0][0] * x0 + p.w[0][1] * x1;
    out1[k] = p.w[1][0] * x0 + p.w[1][1] * x1;
    if (settings_.postFilterFloor < 1.0f) {
      const Demixing2 &w = demixing_[k];
      const float power0 = std::norm(w.w[0][0] * x0 + w.w[0][1] * x1) * earPower_[k][0];
      const float power1 = std::norm(w.w[1][0] * x0 + w.w[1][1] * x1) * earPower_[k][1];
      out0[k] *= postFilterGain(power0, power1);
      out1[k] *= postFilterGain(power1, power0);
    }
  }
}

// A source's share of the bin's power at both ears, at least the floor; a
// silent bin (or one whose powers overflowed) keeps its output.
float WindowedIva::postFilterGain(float own, float other) const {
  const float total = own + other;
  if (!(total > 0.0f) || !std::isfinite(total)) return 1.0f;
  return std::max(settings_.postFilterFloor, own / total);
}

}  // namespace separation
}  // namespace KOLV
