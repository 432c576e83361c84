#include "AudioMetrics.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <stdexcept>

namespace evaluate {

namespace {

constexpr double kScoredSourceRatio = 1e-4;  // -40 dB: quieter sources leave nothing to separate
constexpr double kRidge = 1e-10;             // relative, keeps the fit defined when images coincide
constexpr int kTargetLags = 32;              // samples of the filter the SDR's target may take (2 ms at 16 kHz)
constexpr double kActiveInWindow = 0.25;     // s a talker must speak in a 1 s window for it to count

size_t sampleAt(double seconds, int samplingRate) {
  return static_cast<size_t>(std::llround(seconds * samplingRate));
}

std::vector<double> channelSum(const Channels &signal) {
  std::vector<double> sum(signal.empty() ? 0 : signal[0].size(), 0.0);
  for (const auto &channel : signal)
    for (size_t n = 0; n < sum.size(); ++n) sum[n] += channel[n];
  return sum;
}

double energy(const std::vector<double> &x, size_t begin, size_t end) {
  double sum = 0.0;
  for (size_t n = begin; n < end; ++n) sum += x[n] * x[n];
  return sum;
}

double ratioDb(double numerator, double denominator) {
  double db = 10.0 * std::log10((numerator + 1e-30) / (denominator + 1e-30));
  return std::clamp(db, -kSirLimitDb, kSirLimitDb);
}

// Solves the symmetric system a x = b in place by Gaussian elimination with
// partial pivoting; a is n x n, row-major.
std::vector<double> solve(std::vector<double> a, std::vector<double> b) {
  const size_t n = b.size();
  for (size_t col = 0; col < n; ++col) {
    size_t pivot = col;
    for (size_t r = col + 1; r < n; ++r)
      if (std::fabs(a[r * n + col]) > std::fabs(a[pivot * n + col])) pivot = r;
    for (size_t c = 0; c < n; ++c) std::swap(a[col * n + c], a[pivot * n + c]);
    std::swap(b[col], b[pivot]);
    for (size_t r = col + 1; r < n; ++r) {
      double f = a[r * n + col] / a[col * n + col];
      for (size_t c = col; c < n; ++c) a[r * n + c] -= f * a[col * n + c];
      b[r] -= f * b[col];
    }
  }
  std::vector<double> x(n);
  for (size_t r = n; r-- > 0;) {
    double sum = b[r];
    for (size_t c = r + 1; c < n; ++c) sum -= a[r * n + c] * x[c];
    x[r] = sum / a[r * n + r];
  }
  return x;
}

// Source j's part of y over [begin, end): y fitted as a weighted sum of
// every source image's channels, the terms of j's channels summed.
std::vector<std::vector<double>> sourceParts(const std::vector<double> &y, const std::vector<Channels> &images,
                                             size_t begin, size_t end) {
  std::vector<const std::vector<double> *> regressors;
  for (const auto &image : images)
    for (const auto &channel : image) regressors.push_back(&channel);
  const size_t k = regressors.size();
  std::vector<double> gram(k * k, 0.0), rhs(k, 0.0);
  for (size_t i = 0; i < k; ++i) {
    for (size_t j = i; j < k; ++j) {
      double sum = 0.0;
      for (size_t n = begin; n < end; ++n) sum += (*regressors[i])[n] * (*regressors[j])[n];
      gram[i * k + j] = gram[j * k + i] = sum;
    }
    for (size_t n = begin; n < end; ++n) rhs[i] += (*regressors[i])[n] * y[n];
  }
  double largest = 0.0;
  for (size_t i = 0; i < k; ++i) largest = std::max(largest, gram[i * k + i]);
  for (size_t i = 0; i < k; ++i) gram[i * k + i] += kRidge * largest;
  const std::vector<double> weights = solve(gram, rhs);

  const size_t length = end - begin;
  std::vector<std::vector<double>> parts(images.size(), std::vector<double>(length, 0.0));
  size_t r = 0;
  for (size_t s = 0; s < images.size(); ++s)
    for (size_t c = 0; c < images[s].size(); ++c, ++r)
      for (size_t n = 0; n < length; ++n) parts[s][n] += weights[r] * (*regressors[r])[begin + n];
  return parts;
}

struct SourceRatios {
  std::vector<double> sir, sdr;  // dB, per source
};

// sum over [begin, end) of a[n] b[n + lag], samples outside taken as zero.
double crossCorrelation(const std::vector<double> &a, const std::vector<double> &b, int lag, size_t begin,
                        size_t end) {
  // n and n + lag both within [begin, end).
  const long long first = std::max<long long>(static_cast<long long>(begin), static_cast<long long>(begin) - lag);
  const long long last = std::min<long long>(static_cast<long long>(end), static_cast<long long>(end) - lag);
  double sum = 0.0;
  for (long long n = first; n < last; ++n) sum += a[static_cast<size_t>(n)] * b[static_cast<size_t>(n + lag)];
  return sum;
}

// SDR of y for one source over [begin, end): the target is y's least-squares
// projection onto the source image's channels, each delayed by kTargetLags
// lags around zero (a short filter, as in BSS Eval, so that a colouring or a
// small delay of the source does not count as distortion); the distortion is
// the rest of y.
double sdrDb(const std::vector<double> &y, const Channels &image, size_t begin, size_t end) {
  const int channels = static_cast<int>(image.size()), half = kTargetLags / 2;
  const int size = channels * kTargetLags;
  // Gram matrix from the channels' correlations (Toeplitz in the lags).
  std::vector<std::vector<double>> correlation(static_cast<size_t>(channels * channels));
  for (int c = 0; c < channels; ++c)
    for (int d = 0; d < channels; ++d)
      for (int lag = -(kTargetLags - 1); lag < kTargetLags; ++lag)
        correlation[static_cast<size_t>(c * channels + d)].push_back(crossCorrelation(image[c], image[d], lag, begin, end));
  std::vector<double> gram(static_cast<size_t>(size * size)), rhs(static_cast<size_t>(size));
  double largest = 0.0;
  for (int i = 0; i < size; ++i) {
    const int c = i / kTargetLags, a = i % kTargetLags - half;
    // Regressor (c, a) is image[c] delayed by a: x_c[n - a].
    rhs[static_cast<size_t>(i)] = crossCorrelation(image[c], y, a, begin, end);
    for (int j = 0; j < size; ++j) {
      const int d = j / kTargetLags, b = j % kTargetLags - half;
      gram[static_cast<size_t>(i * size + j)] = correlation[static_cast<size_t>(c * channels + d)][static_cast<size_t>(a - b + kTargetLags - 1)];
    }
    largest = std::max(largest, gram[static_cast<size_t>(i * size + i)]);
  }
  for (int i = 0; i < size; ++i) gram[static_cast<size_t>(i * size + i)] += kRidge * largest + 1e-300;
  const std::vector<double> weights = solve(gram, rhs);
  double target = 0.0;
  for (int i = 0; i < size; ++i) target += weights[static_cast<size_t>(i)] * rhs[static_cast<size_t>(i)];
  const double total = energy(y, begin, end);
  target = std::clamp(target, 0.0, total);
  return ratioDb(target, total - target);
}

// For each source j of y over [begin, end): SIR (its part of the fit against
// the other sources' parts) and SDR (see sdrDb).
SourceRatios ratiosPerSource(const std::vector<double> &y, const std::vector<Channels> &images, size_t begin,
                             size_t end) {
  const std::vector<std::vector<double>> parts = sourceParts(y, images, begin, end);
  const size_t length = end - begin;
  SourceRatios ratios;
  for (size_t s = 0; s < images.size(); ++s) {
    std::vector<double> others(length, 0.0);
    for (size_t o = 0; o < images.size(); ++o)
      if (o != s)
        for (size_t n = 0; n < length; ++n) others[n] += parts[o][n];
    ratios.sir.push_back(ratioDb(energy(parts[s], 0, length), energy(others, 0, length)));
    ratios.sdr.push_back(sdrDb(y, images[s], begin, end));
  }
  return ratios;
}

double activeSeconds(const std::vector<scenekit::Stretch> &stretches, double start, double stop) {
  double seconds = 0.0;
  for (const auto &s : stretches) seconds += std::max(0.0, std::min(stop, s.end) - std::max(start, s.start));
  return seconds;
}

bool everySourcePresent(const std::vector<Channels> &images, size_t begin, size_t end) {
  std::vector<double> energies;
  for (const auto &image : images) energies.push_back(energy(channelSum(image), begin, end));
  double strongest = *std::max_element(energies.begin(), energies.end());
  return strongest > 0.0 && *std::min_element(energies.begin(), energies.end()) >= kScoredSourceRatio * strongest;
}

}  // namespace

int estimateDelay(const Channels &output, const Channels &reference, int maxLag) {
  const std::vector<double> y = channelSum(output), x = channelSum(reference);
  int best = 0;
  double bestValue = -HUGE_VAL;
  for (int lag = 0; lag <= maxLag; ++lag) {
    double sum = 0.0;
    for (size_t n = 0; n + lag < y.size() && n < x.size(); ++n) sum += y[n + lag] * x[n];
    if (sum > bestValue) {
      bestValue = sum;
      best = lag;
    }
  }
  return best;
}

Channels aligned(const Channels &signal, int delay, size_t length) {
  Channels out(signal.size(), std::vector<double>(length, 0.0));
  for (size_t c = 0; c < signal.size(); ++c)
    for (size_t n = 0; n < length && n + delay < signal[c].size(); ++n) out[c][n] = signal[c][n + delay];
  return out;
}

double levelDb(const Channels &signal, const std::vector<scenekit::Stretch> &stretches, int samplingRate) {
  double sum = 0.0;
  size_t count = 0;
  for (const auto &channel : signal) {
    for (const auto &s : stretches) {
      size_t end = std::min(channel.size(), sampleAt(s.end, samplingRate));
      for (size_t n = sampleAt(s.start, samplingRate); n < end; ++n) {
        sum += channel[n] * channel[n];
        ++count;
      }
    }
  }
  if (count == 0 || sum == 0.0) return kSilenceDb;
  return std::max(kSilenceDb, 10.0 * std::log10(sum / static_cast<double>(count)));
}

double scaleInvariantSdr(const Channels &signal, const Channels &reference,
                         const std::vector<scenekit::Stretch> &stretches, int samplingRate) {
  double target = 0.0, distortion = 0.0;
  for (size_t c = 0; c < signal.size() && c < reference.size(); ++c) {
    double cross = 0.0, referenceEnergy = 0.0;
    for (const auto &s : stretches)
      for (size_t n = sampleAt(s.start, samplingRate); n < std::min(signal[c].size(), sampleAt(s.end, samplingRate));
           ++n) {
        cross += signal[c][n] * reference[c][n];
        referenceEnergy += reference[c][n] * reference[c][n];
      }
    const double scale = referenceEnergy > 0.0 ? cross / referenceEnergy : 0.0;
    for (const auto &s : stretches)
      for (size_t n = sampleAt(s.start, samplingRate); n < std::min(signal[c].size(), sampleAt(s.end, samplingRate));
           ++n) {
        const double part = scale * reference[c][n];
        target += part * part;
        distortion += (signal[c][n] - part) * (signal[c][n] - part);
      }
  }
  return ratioDb(target, distortion);
}

NoiseReduction measureNoiseReduction(const Channels &input, const Channels &output,
                                     const std::vector<scenekit::Stretch> &speech, int samplingRate, double skip,
                                     double firstSound) {
  const double firstSpeech = speech.empty() ? static_cast<double>(input.at(0).size()) / samplingRate : speech[0].start;
  const double leadInEnd = std::min(firstSpeech, firstSound);
  if (!(leadInEnd > skip))
    throw std::runtime_error("the scene has no noise-only lead-in after " + std::to_string(skip) +
                             " s: its first source starts at " + std::to_string(leadInEnd) + " s");
  NoiseReduction r;
  r.leadIn = {skip, leadInEnd};
  r.inputLeadInDb = levelDb(input, {r.leadIn}, samplingRate);
  r.outputLeadInDb = levelDb(output, {r.leadIn}, samplingRate);
  r.reductionDb = r.inputLeadInDb - r.outputLeadInDb;
  r.inputSpeechDb = levelDb(input, speech, samplingRate);
  r.outputSpeechDb = levelDb(output, speech, samplingRate);
  r.speechChangeDb = r.outputSpeechDb - r.inputSpeechDb;
  return r;
}

std::vector<BlockSir> measureSeparation(const Channels &separated, const Channels &mixture,
                                        const std::vector<Channels> &images, size_t blockLength, int samplingRate) {
  if (images.size() < 2) throw std::runtime_error("the SIR needs a scene of at least two sources");
  if (separated.size() > images.size())
    throw std::runtime_error("the separated file has " + std::to_string(separated.size()) + " channels for " +
                             std::to_string(images.size()) + " sources");
  const size_t length = mixture.at(0).size();
  if (blockLength == 0) blockLength = length;

  std::vector<BlockSir> blocks;
  for (size_t begin = 0; begin < length; begin += blockLength) {
    const size_t end = std::min(length, begin + blockLength);
    if (!everySourcePresent(images, begin, end)) continue;
    BlockSir block;
    block.start = static_cast<double>(begin) / samplingRate;
    block.end = static_cast<double>(end) / samplingRate;

    std::vector<SourceRatios> outputRatios;  // [output]
    for (const auto &channel : separated) outputRatios.push_back(ratiosPerSource(channel, images, begin, end));
    std::vector<double> bestEar(images.size(), -HUGE_VAL), bestEarSdr(images.size(), -HUGE_VAL);
    for (const auto &channel : mixture) {
      const SourceRatios ratios = ratiosPerSource(channel, images, begin, end);
      for (size_t s = 0; s < images.size(); ++s) {
        bestEar[s] = std::max(bestEar[s], ratios.sir[s]);
        bestEarSdr[s] = std::max(bestEarSdr[s], ratios.sdr[s]);
      }
    }

    std::vector<int> order(images.size());
    std::iota(order.begin(), order.end(), 0);
    double bestTotal = -HUGE_VAL;
    do {
      double total = 0.0;
      for (size_t o = 0; o < separated.size(); ++o) total += outputRatios[o].sir[order[o]];
      if (total > bestTotal) {
        bestTotal = total;
        block.sourceOfOutput.assign(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(separated.size()));
      }
    } while (std::next_permutation(order.begin(), order.end()));

    for (size_t o = 0; o < separated.size(); ++o) {
      int s = block.sourceOfOutput[o];
      const double outputs = static_cast<double>(separated.size());
      block.outputSir.push_back(outputRatios[o].sir[s]);
      block.mixtureSir.push_back(bestEar[s]);
      block.improvement += (outputRatios[o].sir[s] - bestEar[s]) / outputs;
      block.outputSdr.push_back(outputRatios[o].sdr[s]);
      block.mixtureSdr.push_back(bestEarSdr[s]);
      block.sdrImprovement += (outputRatios[o].sdr[s] - bestEarSdr[s]) / outputs;
    }
    blocks.push_back(block);
  }
  return blocks;
}

std::vector<TalkerOnOutput> checkOutputsKeepTalkers(const Channels &separated, const std::vector<Channels> &images,
                                                    const std::vector<std::vector<scenekit::Stretch>> &active,
                                                    int samplingRate) {
  const size_t length = separated.at(0).size();
  const size_t window = static_cast<size_t>(samplingRate);
  std::vector<TalkerOnOutput> talkers(images.size());
  for (size_t begin = 0; begin + window / 2 <= length; begin += window) {
    const size_t end = std::min(length, begin + window);
    const double start = static_cast<double>(begin) / samplingRate, stop = static_cast<double>(end) / samplingRate;
    // [output][source]: the energy of the source's part of the output.
    std::vector<std::vector<double>> share;
    for (const auto &channel : separated) {
      std::vector<double> energies;
      for (const auto &part : sourceParts(channel, images, begin, end)) energies.push_back(energy(part, 0, part.size()));
      share.push_back(energies);
    }
    for (size_t s = 0; s < images.size(); ++s) {
      if (activeSeconds(active.at(s), start, stop) < kActiveInWindow) continue;
      int holder = 0;
      for (size_t o = 1; o < separated.size(); ++o)
        if (share[o][s] > share[static_cast<size_t>(holder)][s]) holder = static_cast<int>(o);
      TalkerOnOutput &talker = talkers[s];
      if (talker.output < 0) talker.output = holder;
      ++talker.activeWindows;
      if (holder != talker.output) talker.windowsElsewhere.push_back({start, stop});
    }
  }
  return talkers;
}

double silentOpening(const Channels &signal, int samplingRate) {
  size_t first = signal.empty() ? 0 : signal[0].size();
  for (const std::vector<double> &channel : signal) {
    size_t n = 0;
    while (n < channel.size() && channel[n] == 0.0) ++n;
    first = std::min(first, n);
  }
  return static_cast<double>(first) / samplingRate;
}

}  // namespace evaluate
