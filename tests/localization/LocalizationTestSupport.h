// Shared helpers of the localization tests: catching the framework's
// pointer exceptions, and two-channel spectra of a delayed broadband source.
#ifndef KOLV_LOCALIZATION_TEST_SUPPORT_H
#define KOLV_LOCALIZATION_TEST_SUPPORT_H

#include <cmath>
#include <complex>
#include <random>
#include <string>

#include "BaseException.h"
#include "SteeringTables.h"
#include "TestNetwork.h"

namespace loctest {

// The printed text of the framework exception `f` throws, or "" if none.
template <class F>
std::string thrownText(F f) {
  try {
    f();
  } catch (KOLV::BaseException *e) {
    std::string text = e->text();
    delete e;
    return text;
  }
  return "";
}

constexpr int kRate = 16000;
constexpr int kCols = 257;

// A frame in which a broadband source (unit magnitude, random phase in every
// bin) reaches row 1 `tau` seconds before row 0, plus independent complex
// noise of standard deviation `noise` in each channel.
inline KOLV::RCPtr<kolvtest::ComplexMatrix> delayedSourceFrame(std::mt19937 &rng, double tau,
                                                               double noise, int cols = kCols) {
  std::uniform_real_distribution<double> phase(-3.141592653589793, 3.141592653589793);
  std::normal_distribution<double> gauss(0.0, noise);
  auto frame = kolvtest::complexMatrix(2, cols);
  for (int j = 0; j < cols; ++j) {
    const double omega = localization::binAngularFrequency(j, kRate, cols);
    const std::complex<double> s = std::polar(1.0, phase(rng));
    const std::complex<double> left = s * std::polar(1.0, -omega * tau);
    (*frame)(0, j) = std::complex<float>(static_cast<float>(left.real() + gauss(rng)),
                                         static_cast<float>(left.imag() + gauss(rng)));
    (*frame)(1, j) = std::complex<float>(static_cast<float>(s.real() + gauss(rng)),
                                         static_cast<float>(s.imag() + gauss(rng)));
  }
  return frame;
}

// Independent noise only, in both channels.
inline KOLV::RCPtr<kolvtest::ComplexMatrix> noiseFrame(std::mt19937 &rng, double noise,
                                                       int cols = kCols) {
  std::normal_distribution<double> gauss(0.0, noise);
  auto frame = kolvtest::complexMatrix(2, cols);
  for (int r = 0; r < 2; ++r)
    for (int j = 0; j < cols; ++j)
      (*frame)(r, j) = std::complex<float>(static_cast<float>(gauss(rng)),
                                           static_cast<float>(gauss(rng)));
  return frame;
}

// The same spectrum with its two rows swapped.
inline KOLV::RCPtr<kolvtest::ComplexMatrix> swapRows(const kolvtest::ComplexMatrix &frame) {
  auto swapped = kolvtest::complexMatrix(2, frame.ncols());
  for (int j = 0; j < frame.ncols(); ++j) {
    (*swapped)(0, j) = frame(1, j);
    (*swapped)(1, j) = frame(0, j);
  }
  return swapped;
}

}  // namespace loctest

#endif
