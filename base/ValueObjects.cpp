#include <iomanip>

#include "BinaryIO.h"
#include "GenericType.h"
#include "Matrix.h"
#include "Source.h"
#include "TextNumbers.h"
#include "Vector.h"

namespace KOLV {

namespace {
// Reads one "<name value...>" item of a Source; returns false at its closing ">".
bool readSourceItem(std::istream &in, Source &source) {
  char ch = 0;
  if (!(in >> ch)) throw new ParsingException("Source::readFrom : unexpected end of input");
  if (ch == '>') return false;
  if (ch != '<') throw new ParsingException("Source::readFrom : Parse error: '<' expected");
  std::string word;
  in >> word;
  if (word == "x")
    text::readFloat(text::readFloat(text::readFloat(in, source.x[0]), source.x[1]), source.x[2]);
  else if (word == "power")
    text::readFloat(in, source.power);
  else if (word == "id")
    in >> source.id;
  else if (word == "spare")
    in >> source.spare;
  else
    throw new ParsingException("Source::readFrom : unknown argument: " + word);
  if (in.fail()) throw new ParsingException("Source::readFrom : Parse error trying to build " + word);
  std::string close;
  in >> close;
  if (close != ">") throw new ParsingException("Source::readFrom : Parse error: '>' expected ");
  return true;
}

ObjectTypeRegistration<Vector<ObjectRef>> vectorType(Vector<ObjectRef>::kClassName);
ObjectTypeRegistration<Matrix<std::complex<float>>> complexMatrixType(
    Matrix<std::complex<float>>::kClassName);
ObjectTypeRegistration<Matrix<float>> floatMatrixType(Matrix<float>::kClassName);
ObjectTypeRegistration<Source> sourceType(Source::kClassName);
ObjectTypeRegistration<GenericType<int>> intType(GenericType<int>::kClassName);
ObjectTypeRegistration<GenericType<float>> floatType(GenericType<float>::kClassName);
ObjectTypeRegistration<String> stringType(String::kClassName);
ObjectTypeRegistration<NilObject> nilType("NilObject");
}  // namespace

void Source::printOn(std::ostream &out) const {
  out << "<Source <x " << x[0] << ' ' << x[1] << ' ' << x[2] << "> <power " << power << "> <id "
      << id << "> <spare " << spare << "> >";
}

void Source::readFrom(std::istream &in) {
  while (readSourceItem(in, *this)) {
  }
}

void Source::serialize(std::ostream &out) const {
  out << '{' << kClassName << " |";
  for (float v : x) binary::write(out, v);
  binary::write(out, power);
  binary::write(out, id);
  binary::write(out, spare);
  out << '}';
}

void Source::unserialize(std::istream &in) {
  for (float &v : x) v = binary::read<float>(in, kClassName);
  power = binary::read<float>(in, kClassName);
  id = binary::read<int>(in, kClassName);
  spare = binary::read<int>(in, kClassName);
  binary::expectEnd(in, kClassName);
}

void String::printOn(std::ostream &out) const {
  out << '<' << kClassName << ' ' << std::quoted(static_cast<const std::string &>(*this)) << " >";
}

void String::readFrom(std::istream &in) {
  std::string close;
  if (!(in >> std::quoted(static_cast<std::string &>(*this))) || !(in >> close) || close != ">")
    throw new ParsingException("Parse error reading String");
}

void String::serialize(std::ostream &out) const {
  out << '{' << kClassName << " |";
  binary::write<int>(out, static_cast<int>(size()));
  out.write(data(), static_cast<std::streamsize>(size()));
  out << '}';
}

void String::unserialize(std::istream &in) {
  int n = binary::read<int>(in, kClassName);
  if (n < 0) throw new ParsingException("Negative length in serialised String");
  std::string text;
  text.reserve(std::min(n, 1 << 20));
  for (int i = 0; i < n; ++i) {
    char ch = 0;
    if (!in.get(ch)) throw new ParsingException("Unexpected end of serialised String");
    text.push_back(ch);
  }
  assign(text);
  binary::expectEnd(in, kClassName);
}

}  // namespace KOLV
