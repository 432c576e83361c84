// Noise-weighted generalised cross-correlation with phase transform
// (GCC-PHAT) of a two-channel spectrum, evaluated on the steering directions.
#ifndef KOLV_LOCALIZATION_SPATIAL_SPECTRUM_H
#define KOLV_LOCALIZATION_SPATIAL_SPECTRUM_H

#include <complex>

#include "Directions.h"
#include "SteeringTables.h"

namespace localization {

using Complex = std::complex<float>;

// Lowest weight a bin gets, however far below the noise it lies.
constexpr float kWeightFloor = 1e-6f;

// Whether |L_j conj(R_j)| is a finite number for every lowBin <= j < highBin:
// a non-finite input bin, or one so large that the product overflows, would
// turn the learnt noise or the whole spatial spectrum into NaN.
bool finiteCrossSpectrum(const Complex *left, const Complex *right, int lowBin, int highBin);

// Adds |L_j conj(R_j)| to noiseSum[j] for lowBin <= j < highBin.
void accumulateNoise(const Complex *left, const Complex *right, int lowBin, int highBin,
                     float *noiseSum);

// Turns the sums of `frames` frames into mean magnitudes.
void averageNoise(int frames, int lowBin, int highBin, float *noiseLevel);

// SNR weight of a bin whose cross-spectrum magnitude is `magnitude` over a
// learnt noise level `noise` (both non-zero): 1 - noise/magnitude, never below
// the floor.
float snrWeight(float magnitude, float noise);

// The spatial spectrum P[0..kDirections-1] (the padding entries of `P` are
// scratch): the weighted mean over the table's bins of the cosine between the
// whitened cross-spectrum and each direction's steering phase. A bin whose
// cross-spectrum is 0 contributes nothing; a bin whose noise level is 0 has
// weight 1.
void spatialSpectrum(const Complex *left, const Complex *right, const float *noiseLevel,
                     const SteeringTables &tables, float P[kPaddedDirections]);

}  // namespace localization

#endif
