#include "AudioMetrics.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <stdexcept>

namespace evaluate {

namespace {

constexpr double kScoredSourceRatio = 1e-4;  // -40 dB: quieter sources leave nothing to separate
constexpr double kRidge = 1e-10;             // relative, keeps the fit defined when images coincide

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

// sir[j] for one signal y over [begin, end): see BlockSir.
std::vector<double> sirPerSource(const std::vector<double> &y, const std::vector<Channels> &images, size_t begin,
                                 size_t end) {
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

  // Each source's fitted part, then its SIR against the others' sum.
  const size_t length = end - begin;
  std::vector<std::vector<double>> parts(images.size(), std::vector<double>(length, 0.0));
  size_t r = 0;
  for (size_t s = 0; s < images.size(); ++s)
    for (size_t c = 0; c < images[s].size(); ++c, ++r)
      for (size_t n = 0; n < length; ++n) parts[s][n] += weights[r] * (*regressors[r])[begin + n];
  std::vector<double> sir(images.size());
  for (size_t s = 0; s < images.size(); ++s) {
    std::vector<double> others(length, 0.0);
    for (size_t o = 0; o < images.size(); ++o)
      if (o != s)
        for (size_t n = 0; n < length; ++n) others[n] += parts[o][n];
    sir[s] = ratioDb(energy(parts[s], 0, length), energy(others, 0, length));
  }
  return sir;
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

    std::vector<std::vector<double>> outputSir;  // [output][source]
    for (const auto &channel : separated) outputSir.push_back(sirPerSource(channel, images, begin, end));
    std::vector<double> bestEar(images.size(), -HUGE_VAL);
    for (const auto &channel : mixture) {
      std::vector<double> sir = sirPerSource(channel, images, begin, end);
      for (size_t s = 0; s < sir.size(); ++s) bestEar[s] = std::max(bestEar[s], sir[s]);
    }

    std::vector<int> order(images.size());
    std::iota(order.begin(), order.end(), 0);
    double bestTotal = -HUGE_VAL;
    do {
      double total = 0.0;
      for (size_t o = 0; o < separated.size(); ++o) total += outputSir[o][order[o]];
      if (total > bestTotal) {
        bestTotal = total;
        block.sourceOfOutput.assign(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(separated.size()));
      }
    } while (std::next_permutation(order.begin(), order.end()));

    for (size_t o = 0; o < separated.size(); ++o) {
      int s = block.sourceOfOutput[o];
      block.outputSir.push_back(outputSir[o][s]);
      block.mixtureSir.push_back(bestEar[s]);
      block.improvement += (outputSir[o][s] - bestEar[s]) / static_cast<double>(separated.size());
    }
    blocks.push_back(block);
  }
  return blocks;
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
