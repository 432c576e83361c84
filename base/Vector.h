// A frame object that is also a growable array, used for lists of sources.
#ifndef KOLV_VECTOR_H
#define KOLV_VECTOR_H

#include <vector>

#include "BinaryIO.h"
#include "Object.h"

namespace KOLV {

template <class T>
class Vector;

template <>
class Vector<ObjectRef> : public Object, public std::vector<ObjectRef> {
 public:
  static constexpr const char *kClassName = "Vector<ObjectRef>";

  Vector() = default;
  explicit Vector(size_t n) : std::vector<ObjectRef>(n) {}

  // Number of elements, and whether there are none.
  virtual int vsize() const { return static_cast<int>(size()); }
  virtual bool vempty() const { return empty(); }

  void printOn(std::ostream &out = std::cout) const override {
    out << '<' << kClassName;
    for (const ObjectRef &element : *this) {
      out << ' ' << element;
    }
    out << " > ";
  }

  void prettyPrint(std::ostream &out = std::cout) const override {
    for (const ObjectRef &element : *this) {
      (element ? element : nilObject)->prettyPrint(out);
      out << '\n';
    }
  }

  void readFrom(std::istream &in = std::cin) override {
    clear();
    for (;;) {
      char ch = 0;
      if (!(in >> ch)) throw new GeneralException("Error reading Vector", __FILE__, kReadErrorLine);
      if (ch == '>') return;
      in.putback(ch);
      ObjectRef element;
      in >> element;
      if (in.fail()) throw new GeneralException("Error reading Vector", __FILE__, kReadErrorLine);
      push_back(element);
    }
  }

  void serialize(std::ostream &out) const override {
    out << '{' << kClassName << " |";
    binary::write<int>(out, vsize());
    for (const ObjectRef &element : *this) (element ? element : nilObject)->serialize(out);
    out << '}';
  }

  void unserialize(std::istream &in) override {
    int n = binary::read<int>(in, kClassName);
    if (n < 0) throw new ParsingException("Negative element count in serialised Vector");
    clear();
    for (int i = 0; i < n; ++i) {
      ObjectRef element;
      in >> element;
      if (in.fail()) throw new GeneralException("Error reading Vector", __FILE__, kReadErrorLine);
      push_back(element);
    }
    binary::expectEnd(in, kClassName);
  }

  ObjectRef clone() override {
    auto *copy = new Vector<ObjectRef>;
    copy->reserve(size());
    for (const ObjectRef &element : *this) copy->push_back(element ? element->clone() : element);
    return ObjectRef(copy);
  }

  std::string className() const override { return kClassName; }

 private:
  static constexpr int kReadErrorLine = 215;
};

}  // namespace KOLV

#endif
