// Numbers of the text form. Floats are printed by the standard stream
// operators, which write a NaN or an infinity as "nan", "-nan", "inf" or
// "-inf" but do not read those words back; these readers do, so that every
// printed object, damaged values included, reads back as it was.
#ifndef KOLV_TEXT_NUMBERS_H
#define KOLV_TEXT_NUMBERS_H

#include <cerrno>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <string>

namespace KOLV::text {

// Characters that may belong to a printed float: digits, signs, the decimal
// point, exponents and the letters of "nan", "inf" and "infinity".
inline bool isFloatCharacter(int c) {
  return (c >= '0' && c <= '9') ||
         (c != EOF && c != '\0' && std::strchr("+-.eEnNaAiIfFtTyY", c) != nullptr);
}

// Reads one float as the stream extractor does, and also the words for NaN
// and the infinities; sets failbit when the next word is not a float.
inline std::istream &readFloat(std::istream &in, float &value) {
  std::istream::sentry ready(in);  // skips white space
  if (!ready) return in;
  std::string word;
  while (isFloatCharacter(in.peek())) word += static_cast<char>(in.get());
  if (word.empty()) {
    in.setstate(std::ios::failbit);
    return in;
  }
  char *end = nullptr;
  errno = 0;
  const float parsed = std::strtof(word.c_str(), &end);
  // A finite number too large for a float is refused, as the extractor does.
  const bool overflow = errno == ERANGE && std::isinf(parsed);
  if (end != word.c_str() + word.size() || overflow) {
    in.setstate(std::ios::failbit);
    return in;
  }
  value = parsed;
  return in;
}

// Reads a complex number as printed, "(re,im)", or "(re)" or a plain float.
inline std::istream &readComplex(std::istream &in, std::complex<float> &value) {
  char open = 0;
  if (!(in >> open)) return in;
  float re = 0.0f, im = 0.0f;
  if (open != '(') {
    in.putback(open);
    if (readFloat(in, re)) value = {re, 0.0f};
    return in;
  }
  char next = 0;
  if (!readFloat(in, re) || !(in >> next)) return in;
  if (next == ',') {
    if (!readFloat(in, im) || !(in >> next)) return in;
  }
  if (next != ')') {
    in.setstate(std::ios::failbit);
    return in;
  }
  value = {re, im};
  return in;
}

// The text-form reader of any element type: floats and complex numbers as
// above, everything else by its stream extractor.
template <class T>
std::istream &readValue(std::istream &in, T &value) {
  return in >> value;
}
inline std::istream &readValue(std::istream &in, float &value) { return readFloat(in, value); }
inline std::istream &readValue(std::istream &in, std::complex<float> &value) {
  return readComplex(in, value);
}

}  // namespace KOLV::text

#endif
