// Counted references to frame objects. RCPtr<T> is a typed handle; ObjectRef
// is the generic one. Assigning a reference of one type to a handle of another
// shares the object when it is of the requested type, asks the conversion
// dispatch otherwise, and fails with the framework's error.
#ifndef KOLV_OBJECT_REF_H
#define KOLV_OBJECT_REF_H

#include <type_traits>
#include <typeinfo>

namespace KOLV {

class Object;

namespace detail {
// Returns a new reference (count already incremented) to `obj`, to its
// conversion, or to nilObject, whichever `accepts` first; throws the
// framework's GeneralException when none does.
Object *resolveTyped(Object *obj, const std::type_info &target, bool (*accepts)(Object *),
                     const char *headerPath);
void addRef(Object *obj);
void release(Object *obj);
}  // namespace detail

template <class T>
class RCPtr {
 public:
  RCPtr() = default;
  // Adopts a new object: its count of 1 becomes this reference.
  explicit RCPtr(T *adopted) : ptr_(adopted) {}
  RCPtr(const RCPtr &other) : ptr_(other.ptr_) {
    if (ptr_) detail::addRef(ptr_);
  }
  RCPtr(RCPtr &&other) noexcept : ptr_(other.ptr_) { other.ptr_ = nullptr; }
  template <class U>
  RCPtr(const RCPtr<U> &other) : ptr_(convert(other.get())) {}
  ~RCPtr() {
    if (ptr_) detail::release(ptr_);
  }

  RCPtr &operator=(const RCPtr &other) {
    RCPtr copy(other);
    swap(copy);
    return *this;
  }
  RCPtr &operator=(RCPtr &&other) noexcept {
    RCPtr moved(std::move(other));
    swap(moved);
    return *this;
  }
  template <class U>
  RCPtr &operator=(const RCPtr<U> &other) {
    RCPtr converted(other);
    swap(converted);
    return *this;
  }

  T *get() const { return ptr_; }
  T *operator->() const { return ptr_; }
  T &operator*() const { return *ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }
  bool isNull() const { return ptr_ == nullptr; }
  void swap(RCPtr &other) noexcept {
    T *tmp = ptr_;
    ptr_ = other.ptr_;
    other.ptr_ = tmp;
  }
  // Drops the reference, leaving the handle empty.
  void reset() {
    RCPtr empty;
    swap(empty);
  }

 private:
  template <class U>
  static T *convert(U *obj) {
    if constexpr (std::is_base_of_v<T, U>) {
      if (obj) {
        detail::addRef(obj);
        return obj;
      }
    }
    Object *resolved = detail::resolveTyped(
        obj, typeid(T), [](Object *o) { return dynamic_cast<T *>(o) != nullptr; }, __FILE__);
    return dynamic_cast<T *>(resolved);
  }

  T *ptr_ = nullptr;
};

using ObjectRef = RCPtr<Object>;

}  // namespace KOLV

#endif
