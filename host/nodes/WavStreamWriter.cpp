#include "WavStreamWriter.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <string>

namespace KOLV::host {

namespace {

constexpr uint32_t kOpenSize = 0xFFFFFFFFu;
constexpr uint16_t kPcmFormat = 1;
constexpr uint16_t kBitsPerSample = 16;
constexpr uint32_t kFormatChunkBytes = 16;
constexpr long kHeaderBytes = 44;
constexpr long kRiffSizeAt = 4;      // the RIFF chunk's size counts from byte 8 on
constexpr long kRiffSizeAfter = 8;
constexpr long kDataSizeAt = 40;

void put16(std::vector<unsigned char> &bytes, uint16_t v) {
  bytes.push_back(static_cast<unsigned char>(v & 0xFF));
  bytes.push_back(static_cast<unsigned char>(v >> 8));
}

void put32(std::vector<unsigned char> &bytes, uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<unsigned char>(v >> shift));
}

void putTag(std::vector<unsigned char> &bytes, const char *tag) { bytes.insert(bytes.end(), tag, tag + 4); }

bool standardOutputTaken = false;

}  // namespace

WavStreamWriter::WavStreamWriter(FILE *out, int sampleRate, int channels)
    : out_(out), channels_(channels) {
  const uint16_t blockAlign = static_cast<uint16_t>(channels * kBitsPerSample / 8);
  std::vector<unsigned char> header;
  putTag(header, "RIFF");
  put32(header, kOpenSize);
  putTag(header, "WAVE");
  putTag(header, "fmt ");
  put32(header, kFormatChunkBytes);
  put16(header, kPcmFormat);
  put16(header, static_cast<uint16_t>(channels));
  put32(header, static_cast<uint32_t>(sampleRate));
  put32(header, static_cast<uint32_t>(sampleRate) * blockAlign);
  put16(header, blockAlign);
  put16(header, kBitsPerSample);
  putTag(header, "data");
  put32(header, kOpenSize);
  check(std::fwrite(header.data(), 1, header.size(), out_) == header.size());
}

WavStreamWriter::~WavStreamWriter() {
  if (out_) std::fclose(out_);
}

void WavStreamWriter::write(const int16_t *interleaved, long frames) {
  const size_t samples = static_cast<size_t>(frames) * channels_;
  bytes_.clear();
  for (size_t i = 0; i < samples; ++i) put16(bytes_, static_cast<uint16_t>(interleaved[i]));
  check(std::fwrite(bytes_.data(), 1, bytes_.size(), out_) == bytes_.size());
  check(std::fflush(out_) == 0);
}

void WavStreamWriter::close() {
  if (!out_) return;
  FILE *out = out_;
  out_ = nullptr;
  bool flushed = std::fflush(out) == 0;
  // Standard output redirected to a file can be sought: the header then
  // gets its sizes, as a WAV file written to disk has them.
  const long end = std::ftell(out);
  if (flushed && end > static_cast<long>(kHeaderBytes) && std::fseek(out, kRiffSizeAt, SEEK_SET) == 0) {
    std::vector<unsigned char> size;
    put32(size, static_cast<uint32_t>(end - kRiffSizeAfter));
    flushed = std::fwrite(size.data(), 1, size.size(), out) == size.size();
    size.clear();
    put32(size, static_cast<uint32_t>(end - static_cast<long>(kHeaderBytes)));
    flushed = flushed && std::fseek(out, kDataSizeAt, SEEK_SET) == 0 &&
              std::fwrite(size.data(), 1, size.size(), out) == size.size() && std::fflush(out) == 0;
  }
  const int error = errno;
  const bool closed = std::fclose(out) == 0;
  errno = flushed ? errno : error;
  check(flushed && closed);
}

void WavStreamWriter::check(bool ok) {
  if (!ok) throw std::runtime_error(std::strerror(errno));
}

FILE *takeStandardOutput() {
  if (standardOutputTaken) return nullptr;
  std::cout.flush();
  std::fflush(stdout);
  const int stream = dup(STDOUT_FILENO);
  if (stream < 0 || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) return nullptr;
  standardOutputTaken = true;
  return fdopen(stream, "wb");
}

}  // namespace KOLV::host
