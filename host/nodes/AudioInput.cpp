#include "AudioInput.h"

#include <poll.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace KOLV::host {

namespace {

// Full scale of the 16-bit scale the frames carry.
constexpr float kFullScale = 32768.0f;

// An audio file held in memory, read through libsndfile's virtual I/O.
struct MemoryFile {
  const unsigned char *data;
  sf_count_t size;
  sf_count_t at = 0;

  static MemoryFile &of(void *user) { return *static_cast<MemoryFile *>(user); }
  static sf_count_t length(void *user) { return of(user).size; }
  static sf_count_t seek(sf_count_t offset, int whence, void *user) {
    MemoryFile &m = of(user);
    sf_count_t base = whence == SEEK_CUR ? m.at : whence == SEEK_END ? m.size : 0;
    sf_count_t to = base + offset;
    // Like a file: a position past the end is allowed, and reads there give 0.
    if (to < 0) return -1;
    m.at = to;
    return m.at;
  }
  static sf_count_t read(void *dest, sf_count_t count, void *user) {
    MemoryFile &m = of(user);
    sf_count_t n = std::max<sf_count_t>(0, std::min(count, m.size - m.at));
    if (n > 0) std::memcpy(dest, m.data + m.at, static_cast<size_t>(n));
    m.at += n;
    return n;
  }
  static sf_count_t write(const void *, sf_count_t, void *) { return 0; }
  static sf_count_t tell(void *user) { return of(user).at; }
};

class SndfileInput : public AudioInput {
 public:
  explicit SndfileInput(const std::string &path) {
    file_ = sf_open(path.c_str(), SFM_READ, &info_);
    checkOpened();
  }
  SndfileInput(const unsigned char *data, size_t size)
      : memory_(std::make_unique<MemoryFile>(MemoryFile{data, static_cast<sf_count_t>(size)})) {
    static SF_VIRTUAL_IO io{&MemoryFile::length, &MemoryFile::seek, &MemoryFile::read,
                            &MemoryFile::write, &MemoryFile::tell};
    file_ = sf_open_virtual(&io, SFM_READ, &info_, memory_.get());
    checkOpened();
  }
  ~SndfileInput() override { sf_close(file_); }
  SndfileInput(const SndfileInput &) = delete;
  SndfileInput &operator=(const SndfileInput &) = delete;

  int channels() const override { return info_.channels; }
  int sampleRate() const override { return info_.samplerate; }
  long long frames() const override { return info_.frames; }
  // A RIFF/WAVE file, plain or extensible: the stream parser reads its header.
  bool isWav() const {
    const int type = info_.format & SF_FORMAT_TYPEMASK;
    return type == SF_FORMAT_WAV || type == SF_FORMAT_WAVEX;
  }
  // A WAV file whose header claims no samples.
  bool emptyWav() const { return info_.frames == 0 && isWav(); }
  long read(float *interleaved, long frames) override {
    sf_count_t got = sf_readf_float(file_, interleaved, frames);
    if (got < frames && sf_error(file_) != SF_ERR_NO_ERROR)
      throw std::runtime_error(sf_strerror(file_));
    long samples = static_cast<long>(got) * info_.channels;
    for (long i = 0; i < samples; ++i) interleaved[i] *= kFullScale;
    return static_cast<long>(got);
  }
  std::string truncation() const override { return truncation_; }
  // libsndfile reads a file cut short as far as it goes; the reason is
  // found by the caller from the header, which libsndfile does not expose.
  void setTruncation(std::string reason) { truncation_ = std::move(reason); }

 private:
  void checkOpened() {
    if (!file_) throw std::runtime_error(sf_strerror(nullptr));
    if (info_.channels < 1) {
      sf_close(file_);
      file_ = nullptr;
      throw std::runtime_error("the file has no audio channels");
    }
  }

  std::unique_ptr<MemoryFile> memory_;
  SF_INFO info_{};
  SNDFILE *file_ = nullptr;
  std::string truncation_;
};

// How long a read waits on a stalled stream before it looks whether a stop
// was asked for.
constexpr int kPollMilliseconds = 100;

// Sample encodings of a WAV data chunk.
enum class Encoding { Unsigned8, Int16, Int24, Int32, Float32, Float64 };

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatFloat = 3;
constexpr uint16_t kFormatExtensible = 0xFFFE;
// Data sizes that streaming writers leave when they cannot seek back.
constexpr uint32_t kUnknownSizeZero = 0;
constexpr uint32_t kUnknownSizeAllOnes = 0xFFFFFFFFu;
// More channels than any recording has (libsndfile's own limit): a header
// claiming more is damaged, and reading it would allocate without bound.
constexpr int kMaxChannels = 1024;

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
    fd_ = fileno(in_);
    struct stat info {};
    pollable_ = fd_ >= 0 && fstat(fd_, &info) == 0 && !S_ISREG(info.st_mode) &&
                std::setvbuf(in_, nullptr, _IONBF, 0) == 0;
    unsigned char riff[12];
    if (!readExactly(riff, sizeof riff) || std::memcmp(riff, "RIFF", 4) != 0 ||
        std::memcmp(riff + 8, "WAVE", 4) != 0)
      throw std::runtime_error("not a RIFF/WAVE stream");
    readChunksUntilData();
  }

  int channels() const override { return channels_; }
  int sampleRate() const override { return rate_; }
  long long frames() const override {
    return unboundedData_ ? -1 : static_cast<long long>(dataRemaining_ / bytesPerFrame());
  }
  bool isLive() const override { return true; }

  long read(float *interleaved, long frames) override {
    size_t frameBytes = static_cast<size_t>(bytesPerSample_) * channels_;
    size_t wanted = static_cast<size_t>(frames) * frameBytes;
    if (!unboundedData_ && wanted > dataRemaining_)
      wanted = dataRemaining_ / frameBytes * frameBytes;
    raw_.resize(wanted);
    size_t got = readAvailable(raw_.data(), wanted);
    if (!unboundedData_) dataRemaining_ -= got;
    if (got < wanted && !interrupted_) noteEnd(got % frameBytes);
    long whole = static_cast<long>(got / frameBytes);
    decode(raw_.data(), interleaved, whole * channels_);
    return whole;
  }

  std::string truncation() const override { return truncation_; }

  // The bytes of sample data the header declares, or 0 when it leaves the
  // size open; valid once the stream is opened.
  uint64_t declaredDataBytes() const { return unboundedData_ ? 0 : dataRemaining_; }
  int bytesPerFrame() const { return bytesPerSample_ * channels_; }

 private:
  bool readExactly(unsigned char *dest, size_t n) { return readAvailable(dest, n) == n; }

  // Reads up to `n` bytes: fewer at the end of the stream, or when reads are
  // interrupted (a stop was asked for while the stream stalled). A pipe or
  // terminal is read unbuffered and polled, so that a stop is seen within a
  // fraction of a second even when the signal went to another thread.
  size_t readAvailable(unsigned char *dest, size_t n) {
    size_t got = 0;
    while (got < n) {
      if (pollable_) {
        pollfd ready{fd_, POLLIN, 0};
        const int events = poll(&ready, 1, kPollMilliseconds);
        if (events < 0 && errno != EINTR) throw std::runtime_error(std::strerror(errno));
        if (events <= 0) {
          if (readsInterrupted()) break;
          continue;
        }
        const ssize_t r = ::read(fd_, dest + got, n - got);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) throw std::runtime_error(std::strerror(errno));
        if (r == 0) break;
        got += static_cast<size_t>(r);
        continue;
      }
      got += std::fread(dest + got, 1, n - got, in_);
      if (got == n || std::feof(in_)) break;
      if (!std::ferror(in_)) continue;
      if (errno != EINTR) throw std::runtime_error(std::strerror(errno));
      std::clearerr(in_);
      if (readsInterrupted()) break;
    }
    if (got < n && readsInterrupted()) interrupted_ = true;
    return got;
  }

  // The stream ended short of `wanted` bytes, `partial` of them inside an
  // unfinished sample frame.
  void noteEnd(size_t partial) {
    if (!unboundedData_ && dataRemaining_ > 0)
      truncation_ = "the stream ends " + std::to_string(dataRemaining_ + partial) +
                    " bytes before the end of its data chunk";
    else if (partial > 0)
      truncation_ = "the stream ends inside a sample frame (" + std::to_string(partial) +
                    " bytes of an unfinished frame dropped)";
  }

  void skip(uint64_t n) {
    unsigned char scratch[4096];
    while (n > 0) {
      size_t step = n < sizeof scratch ? static_cast<size_t>(n) : sizeof scratch;
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
        skip(static_cast<uint64_t>(size) + (size & 1u));
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
    if (channels_ > kMaxChannels)
      throw std::runtime_error(std::to_string(channels_) + " channels (at most " +
                               std::to_string(kMaxChannels) + " are read)");
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
  int fd_ = -1;
  bool pollable_ = false;  // a pipe or terminal, read through fd_
  int channels_ = 0;
  int rate_ = 0;
  int bytesPerSample_ = 0;
  Encoding encoding_ = Encoding::Int16;
  bool unboundedData_ = false;
  bool interrupted_ = false;
  size_t dataRemaining_ = 0;
  std::vector<unsigned char> raw_;
  std::string truncation_;
};

// Checks the chunk structure of a RIFF/WAVE file of `fileBytes` bytes, read
// from `in` (at its start), before libsndfile sees it: libsndfile loops for
// minutes on a header chunk whose size runs far past the end of the file. The
// data chunk may run past the end (a file cut short); a chunk before it may
// not. Leaves `in` at its start; files that are not RIFF/WAVE pass.
void checkRiffChunks(FILE *in, uint64_t fileBytes) {
  constexpr uint64_t kRiffHeaderBytes = 12;
  constexpr uint64_t kChunkHeaderBytes = 8;
  unsigned char riff[kRiffHeaderBytes];
  bool isRiff = std::fread(riff, 1, sizeof riff, in) == sizeof riff &&
                std::memcmp(riff, "RIFF", 4) == 0 && std::memcmp(riff + 8, "WAVE", 4) == 0;
  for (uint64_t at = kRiffHeaderBytes; isRiff && at + kChunkHeaderBytes <= fileBytes;) {
    unsigned char header[kChunkHeaderBytes];
    if (std::fseek(in, static_cast<long>(at), SEEK_SET) != 0 ||
        std::fread(header, 1, sizeof header, in) != sizeof header ||
        std::memcmp(header, "data", 4) == 0)
      break;
    uint64_t size = le32(header + 4);
    uint64_t end = at + kChunkHeaderBytes + size + (size & 1u);
    if (end > fileBytes + 1)  // the pad byte of a last odd chunk may be missing
      throw std::runtime_error("damaged WAV header: the '" +
                               std::string(reinterpret_cast<char *>(header), 4) + "' chunk of " +
                               std::to_string(size) + " bytes runs past the end of the file");
    at = end;
  }
  std::rewind(in);
}

// The size of the file `in`, which is left at its start; none for a pipe or
// a device, which cannot seek.
std::optional<uint64_t> fileSize(FILE *in) {
  if (std::fseek(in, 0, SEEK_END) != 0) return std::nullopt;
  long size = std::ftell(in);
  std::rewind(in);
  if (size < 0) return std::nullopt;
  return static_cast<uint64_t>(size);
}

// Why a WAV file of `fileBytes` bytes, read from `in` (at its start), holds
// less sample data than its header declares; "" when it is whole or its
// header is not one the stream parser reads.
std::string wavShortfall(FILE *in, uint64_t fileBytes) {
  try {
    WavStreamInput header(in, false);
    long at = std::ftell(in);
    uint64_t declared = header.declaredDataBytes();
    if (at < 0 || declared == 0) return "";
    uint64_t present = fileBytes - static_cast<uint64_t>(at);
    if (present >= declared) return "";
    std::string reason = "the file ends " + std::to_string(declared - present) +
                         " bytes before the end of its data chunk";
    if (present % static_cast<uint64_t>(header.bytesPerFrame()) != 0)
      reason += ", inside a sample frame";
    return reason;
  } catch (std::exception &) {
    return "";
  }
}

}  // namespace

namespace {
volatile std::sig_atomic_t readsInterruptedFlag = 0;
}  // namespace

void AudioInput::interruptReads() { readsInterruptedFlag = 1; }

bool AudioInput::readsInterrupted() { return readsInterruptedFlag != 0; }

std::unique_ptr<AudioInput> AudioInput::openStream(FILE *in, bool owned) {
  return std::make_unique<WavStreamInput>(in, owned);
}

std::unique_ptr<AudioInput> AudioInput::open(const std::string &path) {
  if (path == "-") return openStream(stdin, false);
  std::unique_ptr<FILE, int (*)(FILE *)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!file) throw std::runtime_error(std::strerror(errno));
  const std::optional<uint64_t> size = fileSize(file.get());
  if (size) checkRiffChunks(file.get(), *size);
  auto input = std::make_unique<SndfileInput>(path);
  if (!input->isWav() || !size) return input;
  // A file saved from a streaming writer keeps the data size 0: its samples
  // run to the end of the file.
  if (input->emptyWav()) return openStream(file.release(), true);
  input->setTruncation(wavShortfall(file.get(), *size));
  return input;
}

std::unique_ptr<AudioInput> AudioInput::openMemory(const unsigned char *data, size_t size) {
  if (size == 0) throw std::runtime_error("the file is empty");
  std::unique_ptr<FILE, int (*)(FILE *)> file(
      fmemopen(const_cast<unsigned char *>(data), size, "rb"), &std::fclose);
  if (!file) throw std::runtime_error(std::strerror(errno));
  checkRiffChunks(file.get(), size);
  auto input = std::make_unique<SndfileInput>(data, size);
  if (!input->isWav()) return input;
  if (input->emptyWav()) return openStream(file.release(), true);
  input->setTruncation(wavShortfall(file.get(), size));
  return input;
}

}  // namespace KOLV::host
