#include "Object.h"

#include "RunOptions.h"

#include <mutex>

namespace KOLV {

namespace {
// Line of the typed-reference assignment that the framework's error names.
constexpr int kTypedReferenceLine = 69;
// Line of the default clone that the framework's error names.
constexpr int kCloneLine = 105;
// How far the generic reader looks for the "|" of the serialised form.
constexpr int kSyncSearchLength = 6;
// How deeply objects may nest in the text form (vectors of vectors...); a
// guard against input that would exhaust the stack.
constexpr int kMaxNesting = 64;
thread_local int nesting = 0;

// Counts one level of nesting for the lifetime of a read.
struct NestingGuard {
  NestingGuard() {
    if (++nesting > kMaxNesting) {
      --nesting;
      throw new ParsingException("Objects nested more than " + std::to_string(kMaxNesting) +
                                 " deep");
    }
  }
  ~NestingGuard() { --nesting; }
  NestingGuard(const NestingGuard &) = delete;
  NestingGuard &operator=(const NestingGuard &) = delete;
};

std::map<std::string, std::function<Object *()>> &objectTypes() {
  static std::map<std::string, std::function<Object *()>> types;
  return types;
}

std::vector<Object::ModuleVersion> &versions() {
  static std::vector<Object::ModuleVersion> list;
  return list;
}
}  // namespace

ObjectRef nilObject(new NilObject);

namespace detail {
void addRef(Object *obj) { obj->ref(); }
void release(Object *obj) { obj->unref(); }

Object *resolveTyped(Object *obj, const std::type_info &target, bool (*accepts)(Object *),
                     const char *headerPath) {
  if (obj) {
    if (accepts(obj)) {
      obj->ref();
      return obj;
    }
    obj->ref();
    ObjectRef converted =
        ConversionDispatch::GetInstance().call(typeid(*obj), target, ObjectRef(obj));
    if (converted && accepts(converted.get())) {
      converted->ref();
      return converted.get();
    }
  } else if (nilObject && accepts(nilObject.get())) {
    nilObject->ref();
    return nilObject.get();
  }
  throw new GeneralException("Something is wrong in RCPtr::operator=, this should not happen.",
                             headerPath, kTypedReferenceLine);
}
}  // namespace detail

void Object::serialize(std::ostream &) const {
  throw new GeneralException("Method serialize() not implemented for this object : " + className(),
                             __FILE__, __LINE__);
}

void Object::unserialize(std::istream &) {
  throw new GeneralException(
      "Method unserialize() not implemented for this object : " + className(), __FILE__, __LINE__);
}

void Object::doesNotUnderstand(std::string method) {
  throw new GeneralException(className() + " does not understand method " + method, __FILE__,
                             __LINE__);
}

void Object::readFrom(std::istream &) {
  throw new GeneralException("Method readFrom() not implemented for this object : " + className(),
                             __FILE__, __LINE__);
}

ObjectRef Object::clone() {
  throw new GeneralException(
      std::string("Method clone() not implemented for this object : ") + typeid(this).name(),
      "base/Object.h", kCloneLine);
}

std::string Object::className() const { return typeid(*this).name(); }

ObjectRef Object::newObject(const std::string &className) {
  auto it = objectTypes().find(className);
  if (it == objectTypes().end())
    throw new ParsingException("Unknown object type: " + className);
  return ObjectRef(it->second());
}

void Object::addObjectType(const std::string &className, std::function<Object *()> make) {
  objectTypes()[className] = std::move(make);
}

bool Object::hasObjectType(const std::string &className) {
  return objectTypes().count(className) != 0;
}

void Object::setModuleVersion(const std::string &name, const std::string &revision,
                              const std::string &version) {
  versions().push_back({name, revision, version});
}

const std::vector<Object::ModuleVersion> &Object::moduleVersions() { return versions(); }

RunOptions &runOptions() {
  static RunOptions options;
  return options;
}

ConversionDispatch &ConversionDispatch::GetInstance() {
  static ConversionDispatch instance;
  return instance;
}

void ConversionDispatch::addConversion(const std::type_info &from, const std::type_info &to,
                                       Converter converter) {
  converters_[{std::type_index(from), std::type_index(to)}] = std::move(converter);
}

ObjectRef ConversionDispatch::call(const std::type_info &from, const std::type_info &to,
                                   ObjectRef ref) const {
  auto it = converters_.find({std::type_index(from), std::type_index(to)});
  if (it == converters_.end()) return ObjectRef();
  return it->second(std::move(ref));
}

std::ostream &operator<<(std::ostream &out, const ObjectRef &ref) {
  if (ref)
    ref->printOn(out);
  else
    nilObject->printOn(out);
  return out;
}

std::istream &operator>>(std::istream &in, ObjectRef &ref) {
  NestingGuard guard;
  char first = 0;
  if (!(in >> first)) return in;
  if (first == '<') {
    std::string name;
    in >> name;
    ObjectRef obj = Object::newObject(name);
    obj->readFrom(in);
    ref = obj;
  } else if (first == '{') {
    std::string name;
    in >> name;
    ObjectRef obj = Object::newObject(name);
    bool synced = false;
    for (int i = 0; i < kSyncSearchLength; ++i) {
      char ch = 0;
      if (!(in >> ch)) break;
      if (ch == '|') {
        synced = true;
        break;
      }
    }
    if (!synced) throw new ParsingException("Cannot find sync \"|\" symbol for unserialize");
    obj->unserialize(in);
    ref = obj;
  } else {
    throw new ParsingException(std::string("Expected '<' or '{' (got '") + first + "')");
  }
  return in;
}

}  // namespace KOLV
