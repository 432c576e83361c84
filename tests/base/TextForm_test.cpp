#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <complex>
#include <limits>
#include <memory>
#include <sstream>

#include "GenericType.h"
#include "Matrix.h"
#include "Source.h"
#include "TestNetwork.h"
#include "Vector.h"

using namespace KOLV;

namespace {

std::string print(const ObjectRef &ref) {
  std::ostringstream out;
  out << ref;
  return out.str();
}

ObjectRef read(const std::string &text) {
  std::istringstream in(text);
  ObjectRef ref;
  in >> ref;
  return ref;
}

// The message of whatever the reader throws, or "" when it reads cleanly.
std::string readError(const std::string &text) {
  try {
    read(text);
  } catch (ParsingException *e) {
    std::unique_ptr<ParsingException> owned(e);
    return e->message();
  } catch (GeneralException *e) {
    std::unique_ptr<GeneralException> owned(e);
    return e->message();
  }
  return "";
}

TEST(TextForm, EmptyVectorPrintsClassNameAndClose) {
  EXPECT_EQ(print(ObjectRef(new Vector<ObjectRef>)), "<Vector<ObjectRef> > ");
}

TEST(TextForm, MatrixPrintsItsFixedLayout) {
  RCPtr<Matrix<std::complex<float>>> m(new Matrix<std::complex<float>>(2, 2));
  (*m)(0, 0) = {1.0f, -2.0f};
  (*m)(1, 1) = {0.5f, 0.0f};
  EXPECT_EQ(print(m),
            "<Matrix<complex<float>>\n<rows 2>\n<cols 2>\n<data \n(1,-2) (0,0) \n(0,0) (0.5,0) \n>\n>\n");
}

TEST(TextForm, EmptyMatrixPrintsNoElementLines) {
  RCPtr<Matrix<std::complex<float>>> m(new Matrix<std::complex<float>>);
  EXPECT_TRUE(m->mempty());
  EXPECT_EQ(print(m), "<Matrix<complex<float>>\n<rows 0>\n<cols 0>\n<data \n>\n>\n");
}

TEST(TextForm, SourcePrintsInTheHostForm) {
  ObjectRef s = kolvtest::sourceAt(0.0, 1.0f, 777);
  EXPECT_EQ(print(s), "<Source <x 1 0 0> <power 1> <id 777> <spare 0> >");
}

TEST(TextForm, RoundTripsKeepSizesAndValues) {
  RCPtr<Matrix<std::complex<float>>> c(new Matrix<std::complex<float>>(2, 3));
  RCPtr<Matrix<float>> f(new Matrix<float>(3, 1));
  for (int i = 0; i < 6; ++i) c->data()[i] = {0.1f * i, -1.0f / (i + 1)};
  for (int i = 0; i < 3; ++i) f->data()[i] = 1e-7f * i - 32768.0f;
  RCPtr<Vector<ObjectRef>> v(new Vector<ObjectRef>);
  v->push_back(kolvtest::sourceAt(-40.0, 0.25f, 0));
  v->push_back(kolvtest::sourceAt(30.0, 0.125f, 1));

  for (ObjectRef original : {ObjectRef(c), ObjectRef(f), ObjectRef(v), kolvtest::intValue(-3),
                             kolvtest::floatValue(1e-6f), kolvtest::stringValue("two words \"q\"")}) {
    std::ostringstream out;
    out.precision(9);
    out << original;
    SCOPED_TRACE(out.str());
    ObjectRef back = read(out.str());
    std::ostringstream again;
    again.precision(9);
    again << back;
    EXPECT_EQ(again.str(), out.str());
    EXPECT_EQ(back->className(), original->className());
  }
}

TEST(TextForm, HostExampleVectorOfSourcesReads) {
  RCPtr<Vector<ObjectRef>> v =
      read("<Vector<ObjectRef> <Source <x 1 0 0> <power 1> <id 777> <spare 0> > > ");
  ASSERT_EQ(v->vsize(), 1);
  RCPtr<Source> s = v->at(0);
  EXPECT_EQ(s->id, 777);
  EXPECT_EQ(s->x[0], 1.0f);
}

TEST(TextForm, DataBeforeSizeReadsAnEmptyMatrix) {
  RCPtr<Matrix<std::complex<float>>> m =
      read("<Matrix<complex<float>> <data > <rows 1> <cols 1> >");
  EXPECT_TRUE(m->mempty());
  RCPtr<Matrix<float>> e = read("<Matrix<float> <data > >");
  EXPECT_TRUE(e->mempty());
}

TEST(TextForm, SerialisedFormRoundTrips) {
  RCPtr<Vector<ObjectRef>> v(new Vector<ObjectRef>);
  v->push_back(kolvtest::sourceAt(12.0, 2.0f, 3));
  RCPtr<Matrix<float>> m(new Matrix<float>(1, 2));
  (*m)(0, 1) = 5.0f;
  v->push_back(m);
  std::ostringstream out;
  v->serialize(out);
  RCPtr<Vector<ObjectRef>> back = read(out.str());
  ASSERT_EQ(back->size(), 2u);
  RCPtr<Matrix<float>> mb = back->at(1);
  EXPECT_EQ((*mb)(0, 1), 5.0f);
}

TEST(TextForm, ParseErrorsCarryTheFrameworkMessages) {
  struct Case {
    const char *text;
    const char *message;
  };
  const Case cases[] = {
      {"x", "Expected '<' or '{' (got 'x')"},
      {"{Source abcdefgh", "Cannot find sync \"|\" symbol for unserialize"},
      {"<Matrix<float> x", "Matrix<T>::readFrom : Parse error: '<' expected"},
      {"<Matrix<float> <depth 3> >", "Matrix<T>::readFrom : unknown argument: depth"},
      {"<Matrix<float> <rows x> >", "Matrix<T>::readFrom : Parse error trying to build rows"},
      {"<Matrix<float> <rows 1 <cols 1> >", "Matrix<T>::readFrom : Parse error: '>' expected "},
      {"<Matrix<float> <rows 1> <cols 2> <data 1 > >",
       "Matrix<T>::readFrom : Parse error trying to build data"},
      {"<Vector<ObjectRef> <Source <x 1 0 0> > ", "Error reading Vector"},
      {"<Vector<ObjectRef> ", "Error reading Vector"},
      {"<NoSuchType >", "Unknown object type: NoSuchType"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(readError(c.text), c.message);
  }
}

TEST(TextForm, ErrorKeepsWhatWasReadBefore) {
  std::istringstream in("<rows 2> <cols 1> <bogus 1> >");
  Matrix<float> m;
  EXPECT_NE(kolvtest::thrownText<ParsingException>([&] { m.readFrom(in); }), "");
  EXPECT_TRUE(m.mempty());
}

}  // namespace

// Damaged and extreme values print and read back as they were: NaN, the
// infinities, denormals and the largest floats, in every object that holds
// floats. A number too large for a float, or a size no matrix can have, is
// refused.
TEST(TextForm, NonFiniteAndExtremeValuesReadBack) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const float values[] = {nan, -nan, inf, -inf, FLT_MAX, -FLT_MAX, FLT_MIN,
                          std::numeric_limits<float>::denorm_min(), -0.0f, 1.5f};
  auto same = [](float a, float b) {
    return (std::isnan(a) && std::isnan(b)) || (a == b && std::signbit(a) == std::signbit(b));
  };
  auto printExactly = [](const ObjectRef &ref) {
    std::ostringstream out;
    out.precision(9);
    out << ref;
    return out.str();
  };
  for (float v : values) {
    SCOPED_TRACE(v);
    RCPtr<Matrix<std::complex<float>>> spectrum(new Matrix<std::complex<float>>(1, 2));
    (*spectrum)(0, 0) = {v, 1.0f};
    (*spectrum)(0, 1) = {2.0f, v};
    RCPtr<Matrix<std::complex<float>>> spectrumBack = read(printExactly(spectrum));
    EXPECT_TRUE(same((*spectrumBack)(0, 0).real(), v));
    EXPECT_TRUE(same((*spectrumBack)(0, 1).imag(), v));

    RCPtr<Matrix<float>> signal(new Matrix<float>(1, 1));
    (*signal)(0, 0) = v;
    RCPtr<Matrix<float>> signalBack = read(printExactly(signal));
    EXPECT_TRUE(same((*signalBack)(0, 0), v));

    RCPtr<Source> source(new Source);
    source->x[1] = v;
    source->power = v;
    RCPtr<Source> sourceBack = read(printExactly(source));
    EXPECT_TRUE(same(sourceBack->x[1], v));
    EXPECT_TRUE(same(sourceBack->power, v));

    RCPtr<GenericType<float>> number = read(printExactly(ObjectRef(new GenericType<float>(v))));
    EXPECT_TRUE(same(number->val(), v));
  }
  EXPECT_EQ(readError("<Matrix<float> <rows 1> <cols 1> <data 1e40 > >"),
            "Matrix<T>::readFrom : Parse error trying to build data");
  EXPECT_EQ(readError("<Matrix<float> <rows 1933580729> <cols 0> <data > >"),
            "Matrix<T>::readFrom : Parse error trying to build data");
}
