// Value objects: the numbers and strings that parameters are made of, and the
// exact-type reader that nodes use to take a parameter's value.
#ifndef KOLV_GENERIC_TYPE_H
#define KOLV_GENERIC_TYPE_H

#include <string>
#include <typeinfo>

#include "BinaryIO.h"
#include "Object.h"
#include "TextNumbers.h"

namespace KOLV {

template <class T>
struct GenericTypeTraits;
template <>
struct GenericTypeTraits<int> {
  static constexpr const char *kClassName = "Int";
};
template <>
struct GenericTypeTraits<float> {
  static constexpr const char *kClassName = "Float";
};

template <class T>
class GenericType : public Object {
 public:
  static constexpr const char *kClassName = GenericTypeTraits<T>::kClassName;

  GenericType() = default;
  explicit GenericType(T value) : value_(value) {}
  T &val() { return value_; }
  const T &val() const { return value_; }

  void printOn(std::ostream &out = std::cout) const override {
    out << '<' << kClassName << ' ' << value_ << " >";
  }
  void readFrom(std::istream &in = std::cin) override {
    std::string close;
    if (!text::readValue(in, value_) || !(in >> close) || close != ">")
      throw new ParsingException(std::string("Parse error reading ") + kClassName);
  }
  void serialize(std::ostream &out) const override {
    out << '{' << kClassName << " |";
    binary::write<T>(out, value_);
    out << '}';
  }
  void unserialize(std::istream &in) override {
    value_ = binary::read<T>(in, kClassName);
    binary::expectEnd(in, kClassName);
  }
  ObjectRef clone() override { return ObjectRef(new GenericType<T>(value_)); }
  std::string className() const override { return kClassName; }

 private:
  T value_{};
};

class String : public Object, public std::string {
 public:
  static constexpr const char *kClassName = "String";

  String() = default;
  explicit String(std::string text) : std::string(std::move(text)) {}

  // Printed quoted, with backslash escapes, so any text reads back.
  void printOn(std::ostream &out = std::cout) const override;
  void readFrom(std::istream &in = std::cin) override;
  void serialize(std::ostream &out) const override;
  void unserialize(std::istream &in) override;
  ObjectRef clone() override { return ObjectRef(new String(*this)); }
  std::string className() const override { return kClassName; }
};

namespace detail {
template <class T>
struct ValueObject {
  using type = GenericType<T>;
};
template <>
struct ValueObject<String> {
  using type = String;
};
}  // namespace detail

// The value of a parameter object, taken by exact run-time type: an Int is
// never read as a float, nor a Float as an int. An empty reference fails with
// std::bad_typeid.
template <class T>
T dereference_cast(const ObjectRef &ref) {
  using Holder = typename detail::ValueObject<T>::type;
  const std::type_info &actual = typeid(*ref.get());
  const Object &obj = *ref.get();
  if (actual != typeid(Holder)) throw new CastException<T>(actual.name());
  if constexpr (std::is_same_v<T, String>)
    return static_cast<const String &>(obj);
  else
    return static_cast<const Holder &>(obj).val();
}

}  // namespace KOLV

#endif
