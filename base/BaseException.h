// Error objects of the framework. They are thrown as pointers to heap objects;
// whoever catches one prints it and deletes it.
#ifndef KOLV_BASE_EXCEPTION_H
#define KOLV_BASE_EXCEPTION_H

#include <iostream>
#include <string>
#include <typeinfo>

namespace KOLV {

class BaseException {
 public:
  virtual ~BaseException() = default;
  virtual void print(std::ostream &out = std::cerr) = 0;
  // Makes the exception independent of anything it refers to (a no-op here:
  // every exception owns its text).
  virtual void freeze() {}
  // Wraps this exception in a context; returns the exception to throw on.
  virtual BaseException *add(BaseException *context);

  // The printed text without the final newline.
  std::string text();
};

class GeneralException : public BaseException {
 public:
  GeneralException(std::string message, std::string file, int line)
      : message_(std::move(message)), file_(std::move(file)), line_(line) {}
  void print(std::ostream &out = std::cerr) override;
  const std::string &message() const { return message_; }
  const std::string &file() const { return file_; }
  int line() const { return line_; }

 private:
  std::string message_;
  std::string file_;
  int line_;
};

class ParsingException : public BaseException {
 public:
  explicit ParsingException(std::string message) : message_(std::move(message)) {}
  void print(std::ostream &out = std::cerr) override { out << message_ << '\n'; }
  const std::string &message() const { return message_; }

 private:
  std::string message_;
};

// Thrown when a value object is not of the type a reader asked for.
template <class T>
class CastException : public BaseException {
 public:
  explicit CastException(std::string typeName) : typeName_(std::move(typeName)) {}
  void print(std::ostream &out = std::cerr) override {
    out << "Cast error: Trying to cast ObjectRef (" << typeName_ << ") into "
        << typeid(T).name() << '\n';
  }
  const std::string &typeName() const { return typeName_; }

 private:
  std::string typeName_;
};

// An exception with where it happened: the node, its type and the frame.
// The framework wraps whatever leaves a node's calculate() in one of these.
class NodeException : public BaseException {
 public:
  NodeException(std::string nodeName, std::string nodeType, int frame, BaseException *cause)
      : nodeName_(std::move(nodeName)), nodeType_(std::move(nodeType)), frame_(frame),
        cause_(cause) {}
  NodeException(std::string nodeName, std::string nodeType, int frame, std::string causeText)
      : nodeName_(std::move(nodeName)), nodeType_(std::move(nodeType)), frame_(frame),
        cause_(nullptr), causeText_(std::move(causeText)) {}
  ~NodeException() override { delete cause_; }
  NodeException(const NodeException &) = delete;
  NodeException &operator=(const NodeException &) = delete;
  void print(std::ostream &out = std::cerr) override;
  const std::string &nodeName() const { return nodeName_; }
  const std::string &nodeType() const { return nodeType_; }
  int frame() const { return frame_; }
  BaseException *cause() const { return cause_; }
  // The cause's text when it was no framework error (a std::exception).
  const std::string &causeText() const { return causeText_; }

 private:
  std::string nodeName_;
  std::string nodeType_;
  int frame_;
  BaseException *cause_;
  std::string causeText_;
};

}  // namespace KOLV

#endif
