#include "SofaSet.h"

#include <mysofa.h>
#include <soxr.h>

#include <cmath>
#include <fstream>
#include <stdexcept>

namespace localization {

namespace {

constexpr double kDegreesPerRadian = 180.0 / 3.14159265358979323846;

double length(const float *p) { return std::sqrt(double(p[0]) * p[0] + double(p[1]) * p[1] + double(p[2]) * p[2]); }

// The set's own sampling rate, read from its header.
int recordedRate(const std::string &path) {
  int error = 0;
  MYSOFA_HRTF *h = mysofa_load(path.c_str(), &error);
  if (!h || error != MYSOFA_OK) {
    if (h) mysofa_free(h);
    throw std::runtime_error("cannot use SOFA file " + path + " (libmysofa error " + std::to_string(error) + ")");
  }
  const int rate = h->DataSamplingRate.elements == 1 ? static_cast<int>(std::lround(h->DataSamplingRate.values[0])) : 0;
  mysofa_free(h);
  if (rate <= 0) throw std::runtime_error("SOFA file " + path + " states no single sampling rate");
  return rate;
}

}  // namespace

std::vector<float> resampledResponse(const std::vector<double> &response, int fromRate, int toRate) {
  std::vector<float> out(static_cast<size_t>(std::ceil(response.size() * double(toRate) / fromRate)));
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT32_I);
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
  size_t produced = 0;
  soxr_error_t error = soxr_oneshot(fromRate, toRate, 1, response.data(), response.size(), nullptr, out.data(),
                                    out.size(), &produced, &io, &quality, nullptr);
  if (error) throw std::runtime_error(std::string("cannot resample a head response: ") + error);
  out.resize(produced);
  return out;
}

void sofaDirection(double azimuthDeg, double elevationDeg, float xyz[3]) {
  const double az = azimuthDeg / kDegreesPerRadian;
  const double el = elevationDeg / kDegreesPerRadian;
  xyz[0] = static_cast<float>(std::cos(el) * std::cos(az));
  xyz[1] = static_cast<float>(-std::cos(el) * std::sin(az));
  xyz[2] = static_cast<float>(std::sin(el));
}

SofaSet::SofaSet(const std::string &path, int samplingRate, SofaResampling resampling)
    : samplingRate_(samplingRate), openedRate_(samplingRate) {
  // libmysofa reports a missing file as a generic read error; say it plainly.
  if (!std::ifstream(path).good()) throw std::runtime_error("cannot open SOFA file " + path);
  if (resampling == SofaResampling::EachResponse) openedRate_ = recordedRate(path);
  int error = 0;
  easy_ = mysofa_open(path.c_str(), static_cast<float>(openedRate_), &filterLength_, &error);
  if (!easy_ || error != MYSOFA_OK)
    throw std::runtime_error("cannot use SOFA file " + path + " (libmysofa error " + std::to_string(error) + ")");
  const MYSOFA_HRTF *h = easy_->hrtf;
  if (h->R != 2) {
    mysofa_close(easy_);
    throw std::runtime_error("SOFA file " + path + " has " + std::to_string(h->R) + " receivers, not two ears");
  }
  // mysofa_open leaves the source positions in cartesian coordinates.
  double radiusSum = 0.0;
  for (unsigned i = 0; i < h->M; ++i) radiusSum += length(h->SourcePosition.values + 3 * i);
  radius_ = static_cast<float>(radiusSum / h->M);
  if (openedRate_ != samplingRate_)
    filterLength_ = static_cast<int>(std::ceil(filterLength_ * double(samplingRate_) / openedRate_));
}

SofaSet::~SofaSet() { mysofa_close(easy_); }

HeadFilters SofaSet::filters(double azimuthDeg, double elevationDeg) const {
  float xyz[3];
  sofaDirection(azimuthDeg, elevationDeg, xyz);
  for (float &c : xyz) c *= radius_;
  const size_t length = static_cast<size_t>(easy_->hrtf->N);
  HeadFilters f;
  f.left.resize(length);
  f.right.resize(length);
  mysofa_getfilter_float(easy_, xyz[0], xyz[1], xyz[2], f.left.data(), f.right.data(), &f.delayLeft,
                         &f.delayRight);
  if (openedRate_ != samplingRate_) {
    for (std::vector<float> *ear : {&f.left, &f.right}) {
      *ear = resampledResponse(std::vector<double>(ear->begin(), ear->end()), openedRate_, samplingRate_);
      ear->resize(static_cast<size_t>(filterLength_));
    }
  }
  return f;
}

std::vector<std::vector<double>> SofaSet::measuredDirections() const {
  const MYSOFA_HRTF *h = easy_->hrtf;
  std::vector<std::vector<double>> directions;
  for (unsigned i = 0; i < h->M; ++i) {
    const float *p = h->SourcePosition.values + 3 * i;
    const double r = length(p);
    directions.push_back({p[0] / r, p[1] / r, p[2] / r});
  }
  return directions;
}

}  // namespace localization
