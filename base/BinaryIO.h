// Plain binary fields of the serialised object form.
#ifndef KOLV_BINARY_IO_H
#define KOLV_BINARY_IO_H

#include <istream>
#include <ostream>
#include <string>

#include "BaseException.h"

namespace KOLV::binary {

template <class T>
void write(std::ostream &out, const T &value) {
  out.write(reinterpret_cast<const char *>(&value), sizeof(T));
}

template <class T>
T read(std::istream &in, const char *what) {
  T value{};
  if (!in.read(reinterpret_cast<char *>(&value), sizeof(T)))
    throw new ParsingException(std::string("Unexpected end of serialised ") + what);
  return value;
}

// Ends a serialised object: the closing "}".
inline void expectEnd(std::istream &in, const char *what) {
  char ch = 0;
  if (!in.get(ch) || ch != '}')
    throw new ParsingException(std::string("Expected '}' after serialised ") + what);
}

}  // namespace KOLV::binary

#endif
