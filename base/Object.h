// The root of every frame object: a reference count, the text form and
// cloning. Objects are created with a count of 1 and destroyed when the last
// reference goes.
#ifndef KOLV_OBJECT_H
#define KOLV_OBJECT_H

#include <atomic>
#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <typeindex>
#include <vector>

#include "BaseException.h"
#include "ObjectRef.h"

namespace KOLV {

using AtomicCounter = std::atomic<int>;

class Object {
 public:
  Object() : refCount_(1) {}
  Object(const Object &) : refCount_(1) {}
  Object &operator=(const Object &) { return *this; }
  virtual ~Object() = default;

  virtual void destroy() { delete this; }
  // The serialised form: "{" class name " |" binary data "}".
  virtual void serialize(std::ostream &out) const;
  virtual void unserialize(std::istream &in);
  virtual void doesNotUnderstand(std::string method);
  virtual void printOn(std::ostream &out = std::cout) const = 0;
  virtual bool isNil() const { return false; }
  virtual void prettyPrint(std::ostream &out = std::cout) const { printOn(out); }
  // Reads the object's body; the leading "<" and class name are consumed.
  virtual void readFrom(std::istream &in = std::cin);
  virtual ObjectRef clone();
  virtual std::string className() const;

  void ref() { refCount_.fetch_add(1, std::memory_order_relaxed); }
  void unref() {
    if (refCount_.fetch_sub(1, std::memory_order_acq_rel) == 1) destroy();
  }
  int refCount() const { return refCount_.load(); }

  // Builds an empty object of a registered class (the text-form reader's factory).
  static ObjectRef newObject(const std::string &className);
  static void addObjectType(const std::string &className, std::function<Object *()> make);
  static bool hasObjectType(const std::string &className);

  // Records the version of a toolbox as it registers.
  static void setModuleVersion(const std::string &name, const std::string &revision,
                               const std::string &version);
  struct ModuleVersion {
    std::string name, revision, version;
  };
  static const std::vector<ModuleVersion> &moduleVersions();

 private:
  AtomicCounter refCount_;
};

// The object that stands for "no object" where a typed reference is asked of
// an empty one.
class NilObject : public Object {
 public:
  void printOn(std::ostream &out = std::cout) const override { out << "<NilObject >"; }
  bool isNil() const override { return true; }
  std::string className() const override { return "NilObject"; }
};

extern ObjectRef nilObject;

// Converters between object types, keyed by (from, to).
class ConversionDispatch {
 public:
  using Converter = std::function<ObjectRef(ObjectRef)>;
  static ConversionDispatch &GetInstance();
  void addConversion(const std::type_info &from, const std::type_info &to, Converter converter);
  // The converted object, or an empty reference when no converter is known.
  ObjectRef call(const std::type_info &from, const std::type_info &to, ObjectRef ref) const;

 private:
  std::map<std::pair<std::type_index, std::type_index>, Converter> converters_;
};

// The text form: an object prints itself; the generic reader builds one.
std::ostream &operator<<(std::ostream &out, const ObjectRef &ref);
std::istream &operator>>(std::istream &in, ObjectRef &ref);

// Registers T under `name` for the generic reader, at static initialisation.
template <class T>
struct ObjectTypeRegistration {
  explicit ObjectTypeRegistration(const std::string &name) {
    Object::addObjectType(name, [] { return new T; });
  }
};

}  // namespace KOLV

#endif
