#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "GainRules.h"
#include "HarmonicRegeneration.h"
#include "RealTransform.h"

using namespace enhancement;
using CD = std::complex<double>;

namespace {

constexpr double kPi = 3.141592653589793;

std::vector<Complex> randomComplex(int n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  std::vector<Complex> v(n);
  for (Complex &x : v) x = Complex(u(gen), u(gen));
  return v;
}

// sum x[n] e^{sign j 2 pi k n / N}, in double.
std::vector<CD> directDft(const std::vector<CD> &x, int sign) {
  const int n = static_cast<int>(x.size());
  std::vector<CD> out(n);
  for (int k = 0; k < n; ++k)
    for (int m = 0; m < n; ++m)
      out[k] += x[m] * std::polar(1.0, sign * 2.0 * kPi * double(k) * m / n);
  return out;
}

double largest(const std::vector<CD> &v) {
  double m = 0;
  for (const CD &x : v) m = std::max(m, std::abs(x));
  return m;
}

// A row of the regeneration stage with every per-bin input filled in.
struct RowFixture {
  explicit RowFixture(int bins)
      : enhanced(bins), gain(bins), amplitude(bins), noisy(bins), noisyPower(bins),
        cosPhase(bins), sinPhase(bins), noise(bins, 1.0f) {}
  void setNoisy(int k, Complex x) {
    noisy[k] = x;
    noisyPower[k] = x.real() * x.real() + x.imag() * x.imag();
    float phi = std::atan2(x.imag(), x.real());
    cosPhase[k] = std::cos(phi);
    sinPhase[k] = std::sin(phi);
  }
  RegenerationRow row() {
    return {enhanced.data(), gain.data(),     amplitude.data(), noisy.data(),
            noisyPower.data(), cosPhase.data(), sinPhase.data(), noise.data()};
  }
  std::vector<Complex> enhanced;
  std::vector<float> gain, amplitude;
  std::vector<Complex> noisy;
  std::vector<float> noisyPower;
  std::vector<float> cosPhase, sinPhase, noise;
};

}  // namespace

TEST(RealTransform, ValidLengthsArePowersOfTwoFromTwo) {
  for (int k : {2, 4, 8, 256, 1024}) EXPECT_TRUE(RealTransform::isValidHalfLength(k)) << k;
  for (int k : {-4, 0, 1, 3, 6, 100, 257}) EXPECT_FALSE(RealTransform::isValidHalfLength(k)) << k;
}

TEST(RealTransform, ComplexTransformsMatchADirectDft) {
  for (int k : {2, 4, 8, 16, 64, 256}) {
    SCOPED_TRACE(k);
    RealTransform transform(k);
    std::vector<Complex> data = randomComplex(k, k);
    std::vector<CD> input(data.begin(), data.end());
    for (bool inverse : {false, true}) {
      std::vector<Complex> x = data;
      transform.complexTransform(x.data(), inverse);
      std::vector<CD> expected = directDft(input, inverse ? +1 : -1);
      for (int i = 0; i < k; ++i) EXPECT_LT(std::abs(CD(x[i]) - expected[i]), 1e-5 * k) << i;
    }
  }
}

TEST(RealTransform, InverseAndForwardRealTransformsMatchADirectDft) {
  for (int k : {2, 4, 8, 32, 256}) {
    SCOPED_TRACE(k);
    const int n = 2 * k;
    RealTransform transform(k);
    std::vector<Complex> half = randomComplex(k + 1, 100 + k);
    // Hermitian extension; the imaginary parts at 0 and K do not count.
    std::vector<CD> full(n);
    full[0] = half[0].real();
    full[k] = half[k].real();
    for (int i = 1; i < k; ++i) {
      full[i] = CD(half[i]);
      full[n - i] = std::conj(CD(half[i]));
    }
    std::vector<CD> expectedTime = directDft(full, +1);
    std::vector<float> time(n);
    transform.inverse(half.data(), time.data());
    for (int i = 0; i < n; ++i) {
      EXPECT_LT(std::abs(time[i] - expectedTime[i].real()), 1e-5 * n) << i;
      EXPECT_LT(std::abs(expectedTime[i].imag()), 1e-9 * n);
    }

    std::vector<CD> timeD(time.begin(), time.end());
    std::vector<CD> expectedSpectrum = directDft(timeD, -1);
    std::vector<Complex> spectrum(k + 1);
    transform.forward(time.data(), spectrum.data());
    const double scale = largest(expectedSpectrum);
    for (int i = 0; i <= k; ++i)
      EXPECT_LT(std::abs(CD(spectrum[i]) - expectedSpectrum[i]), 1e-6 * scale * k) << i;
  }
}

TEST(HarmonicRegeneration, RectifyingKeepsThePositiveHalfScaledByOneOverN) {
  std::vector<float> signal{-3.0f, 0.0f, 8.0f, -0.0f, 2.0f, -1e-30f, 4.0f, 1.0f};
  HarmonicRegeneration::rectify(signal.data(), 8);
  EXPECT_EQ(signal, (std::vector<float>{0.0f, 0.0f, 1.0f, 0.0f, 0.25f, 0.0f, 0.5f, 0.125f}));
}

TEST(HarmonicRegeneration, OneRealBinRegeneratesDcAndTheSecondHarmonic) {
  const int k = 64, k0 = 8;  // N / k0 = 16, a multiple of 4
  const float v = 100.0f;
  HarmonicRegeneration regeneration(k);
  RowFixture fixture(k);
  fixture.enhanced[k0] = Complex(v, 0.0f);
  regeneration.regenerate(fixture.row());
  const std::vector<Complex> &h = regeneration.harmonicSpectrum();
  EXPECT_NEAR(h[k0].real(), v / 2, 1e-4);
  EXPECT_NEAR(h[k0].imag(), 0.0, 1e-4);
  // The half-wave rectified cosine (2V/N) cos(2 pi k0 n / N) sampled at
  // N/k0 points per period, summed directly.
  const int n = 2 * k;
  double dc = 0, second = 0;
  for (int i = 0; i < n; ++i) {
    double s = std::max(0.0, 2.0 * v / n * std::cos(2 * kPi * k0 * i / n));
    dc += s;
    second += s * std::cos(2 * kPi * 2 * k0 * i / n);
  }
  EXPECT_GT(dc, 1.0);
  EXPECT_NEAR(h[0].real(), dc, 1e-4);
  EXPECT_NEAR(h[2 * k0].real(), second, 1e-4);
  EXPECT_GT(std::abs(h[2 * k0]), 1.0f);
}

TEST(HarmonicRegeneration, SilentRowStaysSilent) {
  HarmonicRegeneration regeneration(16);
  RowFixture fixture(16);
  for (int i = 0; i < 16; ++i) fixture.setNoisy(i, Complex(3.0f, -1.0f));
  regeneration.regenerate(fixture.row());
  for (int i = 0; i < 16; ++i) EXPECT_EQ(std::abs(fixture.enhanced[i]), 0.0f) << i;
}

TEST(HarmonicRegeneration, RecordedGainWeighsRegeneratedAgainstFirstStagePower) {
  // rho = 1: only the first-stage amplitude counts, whatever the row holds.
  // rho = 0: only the regenerated spectrum counts, whatever the amplitude.
  const int k = 32;
  for (float rho : {1.0f, 0.0f}) {
    SCOPED_TRACE(rho);
    std::vector<std::vector<Complex>> outputs;
    for (int variant = 0; variant < 2; ++variant) {
      HarmonicRegeneration regeneration(k);
      RowFixture fixture(k);
      for (int i = 0; i < k; ++i) {
        fixture.setNoisy(i, Complex(2.0f + i, 1.0f));
        fixture.gain[i] = rho;
        fixture.amplitude[i] = rho == 1.0f ? 1.5f : 1.5f + variant;
        fixture.enhanced[i] = rho == 1.0f ? Complex(float(variant * i), 0.0f) : Complex(1.0f, 0);
      }
      regeneration.regenerate(fixture.row());
      outputs.push_back(fixture.enhanced);
    }
    EXPECT_EQ(outputs[0], outputs[1]);
  }
  // With rho = 1 the gain is the Wiener gain of A^2 / noise.
  HarmonicRegeneration regeneration(k);
  RowFixture fixture(k);
  fixture.setNoisy(3, Complex(3.0f, 4.0f));
  fixture.gain[3] = 1.0f;
  fixture.amplitude[3] = 2.0f;
  fixture.noise[3] = 4.0f;
  regeneration.regenerate(fixture.row());
  EXPECT_NEAR(std::abs(fixture.enhanced[3]), 0.5 * 5.0, 1e-5);
  EXPECT_NEAR(std::arg(fixture.enhanced[3]), std::atan2(4.0, 3.0), 1e-6);
}

TEST(HarmonicRegeneration, SubtractionGainAboveOneGivesTheFloor) {
  // After spectral subtraction the recorded gain is gamma, here 8: 1 - rho is
  // negative, xi falls below 0 and the bin gets the floor gain.
  const int k = 16, k0 = 2;
  HarmonicRegeneration regeneration(k);
  RowFixture fixture(k);
  for (int i = 0; i < k; ++i) {
    fixture.setNoisy(i, Complex(3.0f, 0.0f));
    fixture.gain[i] = 8.0f;
    fixture.amplitude[i] = 1e-20f;
  }
  fixture.enhanced[k0] = Complex(50.0f, 0.0f);
  regeneration.regenerate(fixture.row());
  for (int i : {0, k0, 2 * k0}) {
    ASSERT_GT(std::abs(regeneration.harmonicSpectrum()[i]), 1.0f) << i;
    EXPECT_EQ(fixture.enhanced[i], Complex(kGainFloor * 3.0f, 0.0f)) << i;
  }
}

namespace {

// The radix-2 transform written plainly: bit-reversed input, then stages of
// butterflies whose block b takes the twiddle W_K^(bit-reversed b). The fast
// transform must give these numbers bit for bit.
std::vector<Complex> literalTransform(std::vector<Complex> data, bool inverse) {
  const int n = static_cast<int>(data.size());
  int bits = 0;
  while ((1 << bits) < n) ++bits;
  auto reversed = [](int value, int width) {
    int r = 0;
    for (int i = 0; i < width; ++i, value >>= 1) r = (r << 1) | (value & 1);
    return r;
  };
  for (int i = 0; i < n; ++i)
    if (i < reversed(i, bits)) std::swap(data[i], data[reversed(i, bits)]);
  for (int block = 2; block <= n; block *= 2) {
    for (int b = 0; b * block < n; ++b) {
      const double angle = reversed(b, bits - 1) * (2.0 * kPi) / n;
      Complex w(static_cast<float>(std::cos(angle)), static_cast<float>(-std::sin(angle)));
      if (inverse) w = std::conj(w);
      for (int j = 0; j < block / 2; ++j) {
        Complex &p = data[b * block + j];
        Complex &q = data[b * block + j + block / 2];
        const float dr = p.real() - q.real(), di = p.imag() - q.imag();
        const Complex sum(p.real() + q.real(), p.imag() + q.imag());
        q = Complex(dr * w.real() - di * w.imag(), dr * w.imag() + di * w.real());
        p = sum;
      }
    }
  }
  return data;
}

}  // namespace

TEST(RealTransform, ComplexTransformsGiveThePlainRadixTwoNumbersBitForBit) {
  for (int n : {2, 4, 8, 64, 256, 512}) {
    for (bool inverse : {false, true}) {
      const std::vector<Complex> input = randomComplex(n, 11 + n);
      std::vector<Complex> fast = input;
      RealTransform(n).complexTransform(fast.data(), inverse);
      const std::vector<Complex> plain = literalTransform(input, inverse);
      for (int k = 0; k < n; ++k)
        ASSERT_TRUE(fast[k].real() == plain[k].real() && fast[k].imag() == plain[k].imag())
            << "n " << n << (inverse ? " inverse" : " forward") << " bin " << k;
    }
  }
}
