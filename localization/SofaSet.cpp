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

[[noreturn]] void refuse(const std::string &path, int error) {
  throw std::runtime_error("cannot use SOFA file " + path + " (libmysofa error " + std::to_string(error) + ")");
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

// The steps of libmysofa's own opening (mysofa_open), taken one by one so that
// the set's recorded rate is known before it is resampled, from one reading of
// the file: the filters are the same as through mysofa_open.
SofaSet::SofaSet(const std::string &path, int samplingRate, SofaResampling resampling)
    : samplingRate_(samplingRate), openedRate_(samplingRate) {
  // libmysofa reports a missing file as a generic read error; say it plainly.
  if (!std::ifstream(path).good()) throw std::runtime_error("cannot open SOFA file " + path);
  int error = 0;
  hrtf_.reset(mysofa_load(path.c_str(), &error));
  if (!hrtf_ || error != MYSOFA_OK) refuse(path, error);
  if ((error = mysofa_check(hrtf_.get())) != MYSOFA_OK) refuse(path, error);
  if (hrtf_->R != 2)
    throw std::runtime_error("SOFA file " + path + " has " + std::to_string(hrtf_->R) + " receivers, not two ears");
  if (resampling == SofaResampling::EachResponse) {
    if (hrtf_->DataSamplingRate.elements != 1 || !(hrtf_->DataSamplingRate.values[0] > 0.0f))
      throw std::runtime_error("SOFA file " + path + " states no single sampling rate");
    openedRate_ = static_cast<int>(std::lround(hrtf_->DataSamplingRate.values[0]));
  }
  if ((error = mysofa_resample(hrtf_.get(), static_cast<float>(openedRate_))) != MYSOFA_OK) refuse(path, error);
  mysofa_loudness(hrtf_.get());
  mysofa_tocartesian(hrtf_.get());
  lookup_.reset(mysofa_lookup_init(hrtf_.get()));
  if (!lookup_) refuse(path, MYSOFA_INTERNAL_ERROR);
  neighborhood_.reset(mysofa_neighborhood_init_withstepdefine(hrtf_.get(), lookup_.get(),
                                                               MYSOFA_DEFAULT_NEIGH_STEP_ANGLE,
                                                               MYSOFA_DEFAULT_NEIGH_STEP_RADIUS));
  if (!neighborhood_) refuse(path, MYSOFA_INTERNAL_ERROR);
  double radiusSum = 0.0;
  for (unsigned i = 0; i < hrtf_->M; ++i) radiusSum += length(hrtf_->SourcePosition.values + 3 * i);
  radius_ = static_cast<float>(radiusSum / hrtf_->M);
  filterLength_ = static_cast<int>(hrtf_->N);
  if (openedRate_ != samplingRate_)
    filterLength_ = static_cast<int>(std::ceil(filterLength_ * double(samplingRate_) / openedRate_));
}

void SofaSet::Release::operator()(MYSOFA_HRTF *h) const { mysofa_free(h); }
void SofaSet::Release::operator()(MYSOFA_LOOKUP *l) const { mysofa_lookup_free(l); }
void SofaSet::Release::operator()(MYSOFA_NEIGHBORHOOD *n) const { mysofa_neighborhood_free(n); }

SofaSet::~SofaSet() = default;

HeadFilters SofaSet::filters(double azimuthDeg, double elevationDeg) const {
  float xyz[3];
  sofaDirection(azimuthDeg, elevationDeg, xyz);
  for (float &c : xyz) c *= radius_;
  const size_t length = static_cast<size_t>(hrtf_->N);
  const int nearest = mysofa_lookup(lookup_.get(), xyz);
  if (nearest < 0) throw std::runtime_error("libmysofa found no measurement near a direction");
  std::vector<float> interpolated(length * 2);
  float delays[2];
  // The result is either the buffer or one measurement itself.
  const float *both = mysofa_interpolate(hrtf_.get(), xyz, nearest, mysofa_neighborhood(neighborhood_.get(), nearest),
                                         interpolated.data(), delays);
  HeadFilters f;
  f.left.assign(both, both + length);
  f.right.assign(both + length, both + 2 * length);
  f.delayLeft = delays[0];
  f.delayRight = delays[1];
  if (openedRate_ != samplingRate_) {
    for (std::vector<float> *ear : {&f.left, &f.right}) {
      *ear = resampledResponse(std::vector<double>(ear->begin(), ear->end()), openedRate_, samplingRate_);
      ear->resize(static_cast<size_t>(filterLength_));
    }
  }
  return f;
}

std::vector<std::vector<double>> SofaSet::measuredDirections() const {
  const MYSOFA_HRTF *h = hrtf_.get();
  std::vector<std::vector<double>> directions;
  for (unsigned i = 0; i < h->M; ++i) {
    const float *p = h->SourcePosition.values + 3 * i;
    const double r = length(p);
    directions.push_back({p[0] / r, p[1] / r, p[2] / r});
  }
  return directions;
}

}  // namespace localization
