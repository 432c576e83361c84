// Two-dimensional frame objects: spectra (complex) and time signals (float).
// Row-major storage, element (r, c) at index r * cols + c.
#ifndef KOLV_MATRIX_H
#define KOLV_MATRIX_H

#include <complex>
#include <string>
#include <vector>

#include "BinaryIO.h"
#include "Object.h"
#include "TextNumbers.h"

namespace KOLV {

template <class T>
struct MatrixTraits;
template <>
struct MatrixTraits<std::complex<float>> {
  static constexpr const char *kClassName = "Matrix<complex<float>>";
};
template <>
struct MatrixTraits<float> {
  static constexpr const char *kClassName = "Matrix<float>";
};

template <class T>
class Matrix : public Object {
 public:
  static constexpr const char *kClassName = MatrixTraits<T>::kClassName;

  Matrix() = default;
  Matrix(int rows, int cols) : rows_(rows), cols_(cols), data_(checkedSize(rows, cols)) {}

  int nrows() const { return rows_; }
  int ncols() const { return cols_; }
  virtual int msize() const { return rows_ * cols_; }
  virtual bool mempty() const { return rows_ == 0 && cols_ == 0; }

  T *data() { return data_.data(); }
  const T *data() const { return data_.data(); }
  T &operator()(int r, int c) { return data_[static_cast<size_t>(r) * cols_ + c]; }
  const T &operator()(int r, int c) const { return data_[static_cast<size_t>(r) * cols_ + c]; }
  T *row(int r) { return data_.data() + static_cast<size_t>(r) * cols_; }
  const T *row(int r) const { return data_.data() + static_cast<size_t>(r) * cols_; }

  // Resizes, keeping the overlapping top-left block; new elements are zero.
  void resize(int rows, int cols) {
    std::vector<T> fresh(checkedSize(rows, cols));
    int keepRows = std::min(rows, rows_), keepCols = std::min(cols, cols_);
    for (int r = 0; r < keepRows; ++r)
      for (int c = 0; c < keepCols; ++c)
        fresh[static_cast<size_t>(r) * cols + c] = data_[static_cast<size_t>(r) * cols_ + c];
    data_.swap(fresh);
    rows_ = rows;
    cols_ = cols;
  }

  void printOn(std::ostream &out = std::cout) const override {
    out << '<' << kClassName << '\n';
    out << "<rows " << rows_ << ">\n";
    out << "<cols " << cols_ << ">\n";
    out << "<data \n";
    for (int r = 0; r < rows_; ++r) {
      for (int c = 0; c < cols_; ++c) out << (*this)(r, c) << ' ';
      out << '\n';
    }
    out << ">\n>\n";
  }

  void readFrom(std::istream &in = std::cin) override {
    int pendingRows = 0, pendingCols = 0;
    for (;;) {
      char ch = 0;
      if (!(in >> ch)) throw new ParsingException("Matrix<T>::readFrom : Parse error: '<' expected");
      if (ch == '>') return;
      if (ch != '<') throw new ParsingException("Matrix<T>::readFrom : Parse error: '<' expected");
      std::string word;
      in >> word;
      if (word == "rows") {
        in >> pendingRows;
      } else if (word == "cols") {
        in >> pendingCols;
      } else if (word == "data") {
        // Each dimension is bounded too: an empty matrix of two billion rows
        // holds nothing but still takes minutes to print.
        if (pendingRows < 0 || pendingCols < 0 || pendingRows > kMaxReadElements ||
            pendingCols > kMaxReadElements ||
            static_cast<long long>(pendingRows) * pendingCols > kMaxReadElements)
          throw new ParsingException("Matrix<T>::readFrom : Parse error trying to build " + word);
        resize(pendingRows, pendingCols);
        for (size_t i = 0; i < data_.size() && in; ++i) text::readValue(in, data_[i]);
      } else {
        throw new ParsingException("Matrix<T>::readFrom : unknown argument: " + word);
      }
      if (in.fail())
        throw new ParsingException("Matrix<T>::readFrom : Parse error trying to build " + word);
      in >> word;
      if (word != ">") throw new ParsingException("Matrix<T>::readFrom : Parse error: '>' expected ");
    }
  }

  void serialize(std::ostream &out) const override {
    out << '{' << kClassName << " |";
    binary::write<int>(out, rows_);
    binary::write<int>(out, cols_);
    out.write(reinterpret_cast<const char *>(data_.data()),
              static_cast<std::streamsize>(data_.size() * sizeof(T)));
    out << '}';
  }

  void unserialize(std::istream &in) override {
    int rows = binary::read<int>(in, kClassName);
    int cols = binary::read<int>(in, kClassName);
    if (rows < 0 || cols < 0 || rows > kMaxReadElements || cols > kMaxReadElements ||
        static_cast<long long>(rows) * cols > kMaxReadElements)
      throw new ParsingException("Bad size in serialised " + std::string(kClassName));
    resize(rows, cols);
    if (!in.read(reinterpret_cast<char *>(data_.data()),
                 static_cast<std::streamsize>(data_.size() * sizeof(T))))
      throw new ParsingException("Unexpected end of serialised " + std::string(kClassName));
    binary::expectEnd(in, kClassName);
  }

  ObjectRef clone() override { return ObjectRef(new Matrix<T>(*this)); }
  std::string className() const override { return kClassName; }

 private:
  // The largest matrix the text reader builds (a guard against a corrupt size
  // field asking for gigabytes).
  static constexpr long long kMaxReadElements = 1LL << 24;

  static size_t checkedSize(int rows, int cols) {
    if (rows < 0 || cols < 0)
      throw new GeneralException("Matrix with a negative size: " + std::to_string(rows) + " x " +
                                     std::to_string(cols),
                                 __FILE__, __LINE__);
    return static_cast<size_t>(rows) * static_cast<size_t>(cols);
  }

  int rows_ = 0;
  int cols_ = 0;
  std::vector<T> data_;
};

}  // namespace KOLV

#endif
