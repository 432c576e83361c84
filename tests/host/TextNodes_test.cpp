#include <gtest/gtest.h>

#include <complex>
#include <limits>
#include <sstream>
#include <string>

#include "HostTestSupport.h"
#include "Matrix.h"
#include "Source.h"
#include "Vector.h"

using hosttest::readText;
using hosttest::runKolv;
using hosttest::ScratchFolder;
using hosttest::writeText;

namespace {

const char *const kReaderWriter = R"(nodes:
  reader:
    type: ObjectReader
    params: {FILE: in.txt}
  writer:
    type: ObjectWriter
    params: {FILE: out/copy.txt}
    inputs: {INPUT: reader.OUTPUT}
)";

std::string tableNetwork(const char *type, const char *port, const std::string &between = "") {
  std::string input = between.empty() ? "reader.OUTPUT" : "boom.OUTPUT";
  return std::string("nodes:\n  reader:\n    type: ObjectReader\n    params: {FILE: in.txt}\n") +
         between + "  table:\n    type: " + type +
         "\n    params: {FILE: table.csv, ADVANCE: 160, SAMPLING_RATE: 16000}\n"
         "    inputs: {" +
         port + ": " + input + "}\n";
}

KOLV::ObjectRef source(float x0, float x1, float power, int id) {
  auto *s = new KOLV::Source;
  s->x[0] = x0;
  s->x[1] = x1;
  s->power = power;
  s->id = id;
  return KOLV::ObjectRef(s);
}

std::string sourceVector(std::initializer_list<KOLV::ObjectRef> sources) {
  KOLV::Vector<KOLV::ObjectRef> v;
  for (const auto &s : sources) v.push_back(s);
  std::ostringstream out;
  out.precision(9);
  v.printOn(out);
  return out.str() + "\n";
}

}  // namespace

TEST(TextNodesTest, ReaderThenWriterCopiesObjectsWithExactFloats) {
  KOLV::Matrix<float> real(2, 3);
  const float awkward[] = {
      0.1f,       -1.0f / 3.0f, 1e-30f, 3.4028235e38f, std::numeric_limits<float>::denorm_min(),
      16777217.0f};
  for (int i = 0; i < 6; ++i) real.data()[i] = awkward[i];
  KOLV::Matrix<std::complex<float>> spectrum(1, 2);
  spectrum(0, 0) = {0.7f, -2.0f / 7.0f};
  spectrum(0, 1) = {1e10f / 3.0f, 0.0f};
  std::ostringstream text;
  text.precision(9);
  real.printOn(text);
  text << '\n';
  spectrum.printOn(text);
  text << '\n' << sourceVector({source(0.5f, 0.8660254f, 0.123456789f, 7)});

  ScratchFolder folder;
  writeText(folder / "in.txt", text.str());
  writeText(folder / "net.yaml", kReaderWriter);
  auto result = runKolv(folder, "run net.yaml --quiet");
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(readText(folder / "out/copy.txt"), text.str());

  std::istringstream copy(readText(folder / "out/copy.txt"));
  KOLV::ObjectRef first;
  copy >> first;
  KOLV::RCPtr<KOLV::Matrix<float>> back = first;
  for (int i = 0; i < 6; ++i) EXPECT_EQ(back->data()[i], awkward[i]) << i;
}

TEST(TextNodesTest, ParseErrorsFailTheRunWithTheFrameworkText) {
  struct Case {
    const char *text;
    const char *message;
  } cases[] = {
      {"<Matrix<float> <rows 1> <cols 1> <data 1 > >\n<Matrix<float> <bogus 2> >\n",
       "Matrix<T>::readFrom : unknown argument: bogus"},
      {"<Vector<ObjectRef> > \n?\n", "Expected '<' or '{' (got '?')"},
  };
  ScratchFolder folder;
  writeText(folder / "net.yaml", kReaderWriter);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.message);
    writeText(folder / "in.txt", c.text);
    auto result = runKolv(folder, "run net.yaml");
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("node 'reader' (ObjectReader) failed at frame 1: "),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
  }
}

TEST(TextNodesTest, SourceTableWritesOneRowPerSourcePerFrame) {
  ScratchFolder folder;
  writeText(folder / "in.txt",
            sourceVector({source(1.0f, 0.0f, 2.5f, 0), source(0.5f, 0.8660254f, 1e-7f, 1)}) +
                sourceVector({}) + sourceVector({source(0.0f, -1.0f, 12345.678f, 3)}));
  writeText(folder / "net.yaml", tableNetwork("SourceTable", "SOURCES"));
  auto result = runKolv(folder, "run net.yaml --quiet");
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(readText(folder / "table.csv"),
            "frame,time,id,azimuth,power\n"
            "0,0.000000,0,0.00,2.5\n"
            "0,0.000000,1,60.00,1e-07\n"
            "2,0.020000,3,-90.00,12345.7\n");
}

TEST(TextNodesTest, SpeechTableRowsStayWholeWhenTheRunFails) {
  ScratchFolder folder;
  writeText(folder / "in.txt", sourceVector({}) + sourceVector({source(1, 0, 1, 0)}) +
                                   sourceVector({}) + sourceVector({source(1, 0, 1, 0)}));
  writeText(folder / "net.yaml", tableNetwork("SpeechTable", "DECISION"));
  auto whole = runKolv(folder, "run net.yaml --quiet");
  ASSERT_EQ(whole.status, 0) << whole.err;
  const std::string expected =
      "frame,time,speech\n0,0.000000,0\n1,0.010000,1\n2,0.020000,0\n3,0.030000,1\n";
  EXPECT_EQ(readText(folder / "table.csv"), expected);

  writeText(folder / "net.yaml", tableNetwork("SpeechTable", "DECISION",
                                              "  boom:\n    type: FailAt\n    params: {FRAME: 2}\n "
                                              "   inputs: {INPUT: reader.OUTPUT}\n"));
  auto failed = runKolv(folder, "run net.yaml --quiet");
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(readText(folder / "table.csv"), expected.substr(0, expected.find("2,0.02")));
}

TEST(TextNodesTest, FramesOfTheWrongTypeNameThePortAndBothTypes) {
  ScratchFolder folder;
  writeText(folder / "in.txt", sourceVector({}));
  writeText(folder / "net.yaml",
            "nodes:\n  reader: {type: ObjectReader, params: {FILE: in.txt}}\n"
            "  sink: {type: WaveSink, params: {FILE: o.wav, SAMPLING_RATE: 16000}, inputs: {AUDIO: "
            "reader.OUTPUT}}\n");
  auto result = runKolv(folder, "run net.yaml --quiet");
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("node 'sink' (WaveSink) failed at frame 0: "), std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find("input AUDIO needs Matrix<float> frames, got Vector<ObjectRef>"),
            std::string::npos);
}

TEST(TextNodesTest, SourceTableRefusesVectorsOfOtherObjects) {
  ScratchFolder folder;
  writeText(folder / "in.txt",
            "<Vector<ObjectRef> <Matrix<float> <rows 0> <cols 0> <data > > > \n");
  writeText(folder / "net.yaml", tableNetwork("SourceTable", "SOURCES"));
  auto result = runKolv(folder, "run net.yaml --quiet");
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("element 0 of input SOURCES is Matrix<float>, not a Source"),
            std::string::npos)
      << result.err;
}
