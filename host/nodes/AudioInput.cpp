#include "AudioInput.h"

#include <sndfile.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace KOLV::host {

namespace {

// Full scale of the 16-bit scale the frames carry.
constexpr float kFullScale = 32768.0f;

class SndfileInput : public AudioInput {
 public:
  explicit SndfileInput(const std::string &path) {
    file_ = sf_open(path.c_str(), SFM_READ, &info_);
    if (!file_) throw std::runtime_error(sf_strerror(nullptr));
    if (info_.channels < 1) {
      sf_close(file_);
      throw std::runtime_error("the file has no audio channels");
    }
  }
  ~SndfileInput() override { sf_close(file_); }
  SndfileInput(const SndfileInput &) = delete;
  SndfileInput &operator=(const SndfileInput &) = delete;

  int channels() const override { return info_.channels; }
  int sampleRate() const override { return info_.samplerate; }
  // A WAV file whose header claims no samples.
  bool emptyWav() const {
    return info_.frames == 0 && (info_.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV;
  }
  long read(float *interleaved, long frames) override {
    sf_count_t got = sf_readf_float(file_, interleaved, frames);
    if (got < frames && sf_error(file_) != SF_ERR_NO_ERROR)
      throw std::runtime_error(sf_strerror(file_));
    long samples = static_cast<long>(got) * info_.channels;
    for (long i = 0; i < samples; ++i) interleaved[i] *= kFullScale;
    return static_cast<long>(got);
  }

 private:
  SF_INFO info_{};
  SNDFILE *file_ = nullptr;
};

// Sample encodings of a WAV data chunk.
enum class Encoding { Unsigned8, Int16, Int24, Int32, Float32, Float64 };

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatFloat = 3;
constexpr uint16_t kFormatExtensible = 0xFFFE;
// Data sizes that streaming writers leave when they cannot seek back.
constexpr uint32_t kUnknownSizeZero = 0;
constexpr uint32_t kUnknownSizeAllOnes = 0xFFFFFFFFu;

uint16_t le16(const unsigned char *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const unsigned char *p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// A RIFF/WAVE stream read front to back, never seeking.
class WavStreamInput : public AudioInput {
 public:
  // Reads `in`; closes it at the end when `owned`.
  WavStreamInput(FILE *in, bool owned) : in_(in), owned_(owned ? in : nullptr, &std::fclose) {
    unsigned char riff[12];
    if (!readExactly(riff, sizeof riff) || std::memcmp(riff, "RIFF", 4) != 0 ||
        std::memcmp(riff + 8, "WAVE", 4) != 0)
      throw std::runtime_error("not a RIFF/WAVE stream");
    readChunksUntilData();
  }

  int channels() const override { return channels_; }
  int sampleRate() const override { return rate_; }

  long read(float *interleaved, long frames) override {
    size_t frameBytes = static_cast<size_t>(bytesPerSample_) * channels_;
    size_t wanted = static_cast<size_t>(frames) * frameBytes;
    if (!unboundedData_ && wanted > dataRemaining_)
      wanted = dataRemaining_ / frameBytes * frameBytes;
    raw_.resize(wanted);
    size_t got = std::fread(raw_.data(), 1, wanted, in_);
    if (got < wanted && std::ferror(in_)) throw std::runtime_error(std::strerror(errno));
    if (!unboundedData_) dataRemaining_ -= got;
    long whole = static_cast<long>(got / frameBytes);
    decode(raw_.data(), interleaved, whole * channels_);
    return whole;
  }

 private:
  bool readExactly(unsigned char *dest, size_t n) { return std::fread(dest, 1, n, in_) == n; }

  void skip(uint32_t n) {
    unsigned char scratch[4096];
    while (n > 0) {
      uint32_t step = n < sizeof scratch ? n : sizeof scratch;
      if (!readExactly(scratch, step)) throw std::runtime_error("the stream ends inside a chunk");
      n -= step;
    }
  }

  void readChunksUntilData() {
    bool haveFormat = false;
    for (;;) {
      unsigned char header[8];
      if (!readExactly(header, sizeof header))
        throw std::runtime_error("the stream ends before the data chunk");
      uint32_t size = le32(header + 4);
      if (std::memcmp(header, "fmt ", 4) == 0) {
        readFormat(size);
        haveFormat = true;
      } else if (std::memcmp(header, "data", 4) == 0) {
        if (!haveFormat) throw std::runtime_error("the data chunk comes before the format chunk");
        unboundedData_ = size == kUnknownSizeZero || size == kUnknownSizeAllOnes;
        dataRemaining_ = size;
        return;
      } else {
        skip(size + (size & 1u));
      }
    }
  }

  void readFormat(uint32_t size) {
    constexpr uint32_t kBasicFormatSize = 16;
    constexpr uint32_t kExtensibleFormatSize = 40;
    constexpr uint32_t kSubFormatOffset = 24;
    if (size < kBasicFormatSize || size > 1024) throw std::runtime_error("bad format chunk");
    std::vector<unsigned char> fmt(size + (size & 1u));
    if (!readExactly(fmt.data(), fmt.size())) throw std::runtime_error("truncated format chunk");
    uint16_t tag = le16(&fmt[0]);
    channels_ = le16(&fmt[2]);
    rate_ = static_cast<int>(le32(&fmt[4]));
    int bits = le16(&fmt[14]);
    if (tag == kFormatExtensible) {
      if (size < kExtensibleFormatSize) throw std::runtime_error("bad extensible format chunk");
      tag = le16(&fmt[kSubFormatOffset]);
    }
    if (channels_ < 1 || rate_ < 1) throw std::runtime_error("no channels or no sampling rate");
    encoding_ = encodingOf(tag, bits);
    bytesPerSample_ = (bits + 7) / 8;
  }

  static Encoding encodingOf(uint16_t tag, int bits) {
    if (tag == kFormatPcm) {
      switch (bits) {
        case 8:
          return Encoding::Unsigned8;
        case 16:
          return Encoding::Int16;
        case 24:
          return Encoding::Int24;
        case 32:
          return Encoding::Int32;
        default:
          break;
      }
    } else if (tag == kFormatFloat) {
      if (bits == 32) return Encoding::Float32;
      if (bits == 64) return Encoding::Float64;
    }
    throw std::runtime_error("unsupported sample format (format tag " + std::to_string(tag) + ", " +
                             std::to_string(bits) + " bits)");
  }

  void decode(const unsigned char *p, float *out, long samples) const {
    for (long i = 0; i < samples; ++i, p += bytesPerSample_) {
      switch (encoding_) {
        case Encoding::Unsigned8:
          out[i] = (static_cast<float>(p[0]) - 128.0f) * 256.0f;
          break;
        case Encoding::Int16:
          out[i] = static_cast<float>(static_cast<int16_t>(le16(p)));
          break;
        case Encoding::Int24: {
          int32_t v = static_cast<int32_t>(le32AtTop(p)) >> 8;
          out[i] = static_cast<float>(v) / 256.0f;
          break;
        }
        case Encoding::Int32:
          out[i] = static_cast<float>(static_cast<double>(static_cast<int32_t>(le32(p))) / 65536.0);
          break;
        case Encoding::Float32: {
          float f;
          uint32_t bitsValue = le32(p);
          std::memcpy(&f, &bitsValue, sizeof f);
          out[i] = f * kFullScale;
          break;
        }
        case Encoding::Float64: {
          uint64_t bitsValue =
              static_cast<uint64_t>(le32(p)) | (static_cast<uint64_t>(le32(p + 4)) << 32);
          double d;
          std::memcpy(&d, &bitsValue, sizeof d);
          out[i] = static_cast<float>(d * kFullScale);
          break;
        }
      }
    }
  }

  // Three little-endian bytes placed in the top of a 32-bit word, so that an
  // arithmetic shift extends the sign.
  static uint32_t le32AtTop(const unsigned char *p) {
    return (static_cast<uint32_t>(p[0]) << 8) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 24);
  }

  FILE *in_;
  std::unique_ptr<FILE, int (*)(FILE *)> owned_;
  int channels_ = 0;
  int rate_ = 0;
  int bytesPerSample_ = 0;
  Encoding encoding_ = Encoding::Int16;
  bool unboundedData_ = false;
  size_t dataRemaining_ = 0;
  std::vector<unsigned char> raw_;
};

}  // namespace

std::unique_ptr<AudioInput> AudioInput::open(const std::string &path) {
  if (path == "-") return std::make_unique<WavStreamInput>(stdin, false);
  auto input = std::make_unique<SndfileInput>(path);
  if (!input->emptyWav()) return input;
  // A file saved from a streaming writer keeps the data size 0: its samples
  // run to the end of the file.
  FILE *file = std::fopen(path.c_str(), "rb");
  if (!file) throw std::runtime_error(std::strerror(errno));
  return std::make_unique<WavStreamInput>(file, true);
}

}  // namespace KOLV::host
