#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <typeinfo>

#include "GenericType.h"
#include "HostTestSupport.h"
#include "Network.h"

using hosttest::runKolv;
using hosttest::ScratchFolder;
using hosttest::writeText;
using KOLV::host::parseOverride;
using KOLV::host::typedValue;

namespace {

enum class Kind { Int, Float, String };

Kind kindOf(const KOLV::ObjectRef &value) {
  if (dynamic_cast<KOLV::GenericType<int> *>(value.get())) return Kind::Int;
  if (dynamic_cast<KOLV::GenericType<float> *>(value.get())) return Kind::Float;
  EXPECT_TRUE(dynamic_cast<KOLV::String *>(value.get()));
  return Kind::String;
}

}  // namespace

TEST(NetworkFileTest, ScalarsAreTypedByTheCoreSchema) {
  struct Case {
    const char *text;
    bool quoted;
    Kind kind;
    double number;
  } cases[] = {
      {"160", false, Kind::Int, 160},      {"-3", false, Kind::Int, -3},
      {"+7", false, Kind::Int, 7},         {"0x1F", false, Kind::Int, 31},
      {"0o17", false, Kind::Int, 15},      {"1.0", false, Kind::Float, 1.0},
      {"17.5", false, Kind::Float, 17.5},  {"1e-6", false, Kind::Float, 1e-6},
      {".5", false, Kind::Float, 0.5},     {"2.", false, Kind::Float, 2.0},
      {"-1E3", false, Kind::Float, -1000}, {"HANN", false, Kind::String, 0},
      {"160", true, Kind::String, 0},      {"1.0", true, Kind::String, 0},
      {"1,0", false, Kind::String, 0},     {"true", false, Kind::String, 0},
      {"1_000", false, Kind::String, 0},   {"", false, Kind::String, 0},
      {"1e", false, Kind::String, 0},      {".", false, Kind::String, 0},
      {"0x", false, Kind::String, 0},      {"-", false, Kind::String, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.text) + (c.quoted ? " (quoted)" : ""));
    KOLV::ObjectRef value = typedValue(c.text, c.quoted);
    ASSERT_EQ(kindOf(value), c.kind);
    if (c.kind == Kind::Int) {
      EXPECT_EQ(KOLV::dereference_cast<int>(value), c.number);
    } else if (c.kind == Kind::Float) {
      EXPECT_FLOAT_EQ(KOLV::dereference_cast<float>(value), c.number);
    } else {
      EXPECT_EQ(std::string(KOLV::dereference_cast<KOLV::String>(value)), c.text);
    }
  }
  EXPECT_TRUE(std::isinf(KOLV::dereference_cast<float>(typedValue("-.inf", false))));
  EXPECT_THROW(typedValue("99999999999", false), std::invalid_argument);
  EXPECT_THROW(typedValue("1e99", false), std::invalid_argument);
}

TEST(NetworkFileTest, OverridesSplitAtTheLastDotAndHonourQuotes) {
  auto o = parseOverride("left.ear.GAIN=2.5");
  EXPECT_EQ(o.node, "left.ear");
  EXPECT_EQ(o.parameter, "GAIN");
  EXPECT_EQ(KOLV::dereference_cast<float>(o.value), 2.5f);
  auto quoted = parseOverride("sink.FILE='160'");
  EXPECT_EQ(std::string(KOLV::dereference_cast<KOLV::String>(quoted.value)), "160");
  auto path = parseOverride("source.FILE=a=b.wav");
  EXPECT_EQ(std::string(KOLV::dereference_cast<KOLV::String>(path.value)), "a=b.wav");
  EXPECT_THROW(parseOverride("nodot=1"), KOLV::host::NetworkError);
  EXPECT_THROW(parseOverride("node.PARAM"), KOLV::host::NetworkError);
}

namespace {

const char *const kGoodSource = R"(nodes:
  source:
    type: WaveSource
    params:
      FILE: in.wav
      LENGTH: 512
      ADVANCE: 160
)";

}  // namespace

TEST(NetworkFileTest, BadNetworksExitWithStatus2NamingFileLineAndNode) {
  struct Case {
    const char *what;
    std::string yaml;
    std::string expected;  // a part of the message
  } cases[] = {
      {"YAML syntax", "nodes:\n  a: [\n", "net.yaml:3: YAML syntax error"},
      {"unknown type", std::string(kGoodSource) + "  sink:\n    type: WaveSinc\n",
       "net.yaml:8: node 'sink' (WaveSinc): unknown node type (known types: "},
      {"unknown input port",
       std::string(kGoodSource) +
           "  spectrum:\n    type: STFT\n    params: {LENGTH: 512, WINDOW: HANN}\n"
           "    inputs:\n      AUDIOO: source.AUDIO\n",
       "net.yaml:12: node 'spectrum' (STFT): no input port 'AUDIOO' (its inputs: AUDIO)"},
      {"unknown node in a binding",
       std::string(kGoodSource) +
           "  spectrum:\n    type: STFT\n    params: {LENGTH: 512, WINDOW: HANN}\n"
           "    inputs:\n      AUDIO: sauce.AUDIO\n",
       "net.yaml:12: node 'spectrum' (STFT): input AUDIO: no node named 'sauce'"},
      {"unknown output port",
       std::string(kGoodSource) +
           "  spectrum:\n    type: STFT\n    params: {LENGTH: 512, WINDOW: HANN}\n"
           "    inputs:\n      AUDIO: source.SPECTRUM\n",
       "node 'source' has no output port 'SPECTRUM' (its outputs: AUDIO)"},
      {"unbound input",
       std::string(kGoodSource) +
           "  spectrum:\n    type: STFT\n    params: {LENGTH: 512, WINDOW: HANN}\n",
       "net.yaml:8: node 'spectrum' (STFT): input AUDIO is not bound"},
      {"duplicate name", std::string(kGoodSource) + "  source:\n    type: WaveSource\n",
       "net.yaml:8: node 'source': duplicate node name (first defined on line 2)"},
      {"cycle",
       "nodes:\n  a:\n    type: STFT\n    params: {LENGTH: 512, WINDOW: HANN}\n    inputs: {AUDIO: "
       "b.AUDIO}\n"
       "  b:\n    type: ISTFT\n    params: {LENGTH: 512, ADVANCE: 160, WINDOW: HANN}\n"
       "    inputs: {SPECTRUM: a.SPECTRUM}\n",
       "net.yaml:2: node 'a' (STFT): the network has a cycle: a <- b <- a"},
      {"unknown parameter",
       "nodes:\n  source:\n    type: WaveSource\n    params: {FILE: in.wav, LENGTH: 512, ADVANCE: "
       "160, "
       "LENGHT: 3}\n",
       "net.yaml:2: node 'source' (WaveSource): takes no parameter LENGHT (it takes FILE (string), "
       "LENGTH (int), ADVANCE (int), SAMPLING_RATE (int), CHANNELS (int))"},
      {"missing parameter",
       std::string(kGoodSource) + "  left:\n    type: ChannelSelector\n    inputs: {AUDIO: source.AUDIO}\n",
       "net.yaml:8: node 'left' (ChannelSelector): parameter CHANNEL (int) is not given (it takes "
       "CHANNEL (int))"},
      {"stream-bound parameter without a stream",
       "nodes:\n  estimates:\n    type: ObjectReader\n    params: {FILE: in.txt}\n"
       "  table:\n    type: SourceTable\n    params: {FILE: t.csv, ADVANCE: 160}\n"
       "    inputs: {SOURCES: estimates.OUTPUT}\n",
       "net.yaml:5: node 'table' (SourceTable): parameter SAMPLING_RATE (int) is not given, and no "
       "audio stream reaches the node to take it from"},
      {"rate that disagrees with the stream",
       std::string(kGoodSource) + "  sink:\n    type: WaveSink\n    params: {FILE: o.wav, SAMPLING_RATE: 48000}\n"
       "    inputs: {AUDIO: source.AUDIO}\n",
       "net.yaml:8: node 'sink' (WaveSink): parameter SAMPLING_RATE is 48000 Hz, but the stream that "
       "reaches it from node 'source' has a sampling rate of 16000 Hz"},
      {"frame length that disagrees with the stream",
       std::string(kGoodSource) + "  spectrum:\n    type: STFT\n    params: {LENGTH: 1024}\n"
       "    inputs: {AUDIO: source.AUDIO}\n",
       "net.yaml:8: node 'spectrum' (STFT): parameter LENGTH is 1024 samples, but the stream that "
       "reaches it from node 'source' has a frame length of 512 samples"},
      {"value out of range",
       std::string(kGoodSource) + "  vad:\n    type: VoiceActivityDetection\n"
       "    params: {VAD_NOISE_DURATION: -1.0, VAD_THRESHOLD: 2.0}\n    inputs: {AUDIO_SPECTRUM: spectrum.SPECTRUM}\n"
       "  spectrum:\n    type: STFT\n    inputs: {AUDIO: source.AUDIO}\n",
       "net.yaml:8: node 'vad' (VoiceActivityDetection): parameter VAD_NOISE_DURATION is -1 s; it "
       "must be at least 0"},
      {"unknown window",
       std::string(kGoodSource) +
           "  spectrum:\n    type: STFT\n    params: {LENGTH: 512, WINDOW: HAN}\n"
           "    inputs:\n      AUDIO: source.AUDIO\n",
       "net.yaml:8: node 'spectrum' (STFT): parameter WINDOW is 'HAN'; it must be one of HANN, "
       "HAMMING, RECTANGLE"},
      {"port types differ",
       std::string(kGoodSource) +
           "  spectrum:\n    type: STFT\n    params: {LENGTH: 512, WINDOW: HANN}\n    inputs: "
           "{AUDIO: source.AUDIO}\n"
           "  sink:\n    type: WaveSink\n    params: {FILE: o.wav, SAMPLING_RATE: 16000}\n"
           "    inputs: {AUDIO: spectrum.SPECTRUM}\n",
       "net.yaml:15: node 'sink' (WaveSink): input AUDIO takes Matrix<float> frames, but "
       "spectrum.SPECTRUM "
       "gives Matrix<complex<float>>"},
      {"key given twice", std::string(kGoodSource) + "    type: WaveSink\n",
       "net.yaml:8: node 'source' (WaveSource): 'type' is given twice"},
      {"unknown key", std::string(kGoodSource) + "    input: {}\n",
       "net.yaml:8: node 'source' (WaveSource): unknown key 'input'"},
      {"int too large",
       "nodes:\n  source:\n    type: WaveSource\n    params: {FILE: in.wav, LENGTH: 5000000000}\n",
       "net.yaml:4: node 'source' (WaveSource): parameter LENGTH: the integer 5000000000 does not "
       "fit an int"},
  };
  ScratchFolder folder;
  hosttest::writeWav(folder / "in.wav", hosttest::testSignal(1600), SF_FORMAT_PCM_16);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    writeText(folder / "net.yaml", c.yaml);
    auto result = runKolv(folder, "run net.yaml");
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find(c.expected), std::string::npos) << result.err;
  }
}

TEST(NetworkFileTest, WrongValueTypeGivesTheFrameworkCastErrorAndAHint) {
  struct Case {
    const char *params;
    std::string expected;
  } cases[] = {
      {"{FILE: in.wav, LENGTH: 512.0, ADVANCE: 160}",
       "parameter LENGTH: Cast error: Trying to cast ObjectRef (" +
           std::string(typeid(KOLV::GenericType<float>).name()) + ") into " + typeid(int).name() +
           " (write an int without a decimal point, e.g. 160)"},
      {"{FILE: 12, LENGTH: 512, ADVANCE: 160}",
       "parameter FILE: Cast error: Trying to cast ObjectRef (" +
           std::string(typeid(KOLV::GenericType<int>).name()) + ") into " +
           typeid(KOLV::String).name() + " (write a word or a quoted string"},
  };
  ScratchFolder folder;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.params);
    writeText(
        folder / "net.yaml",
        std::string("nodes:\n  source:\n    type: WaveSource\n    params: ") + c.params + "\n");
    auto result = runKolv(folder, "run net.yaml");
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find("net.yaml:2: node 'source' (WaveSource): " + c.expected),
              std::string::npos)
        << result.err;
  }
  writeText(folder / "net.yaml", kGoodSource);
  auto result = runKolv(folder, "run net.yaml --set source.ADVANCE=1.5");
  EXPECT_EQ(result.status, 2);
  EXPECT_NE(result.err.find("(write an int without a decimal point, e.g. 160)"), std::string::npos);
}

TEST(NetworkFileTest, AnchorsAliasesAndJsonWork) {
  ScratchFolder folder;
  hosttest::writeWav(folder / "in.wav", hosttest::testSignal(1600), SF_FORMAT_PCM_16);
  writeText(folder / "net.json", R"({"nodes": {
    "source": {"type": "WaveSource",
               "params": {"FILE": "in.wav", "LENGTH": 320, "ADVANCE": 160}},
    "sink": {"type": "WaveSink", "params": {"FILE": "out.wav", "SAMPLING_RATE": 16000},
             "inputs": {"AUDIO": "source.AUDIO"}}}})");
  auto json = runKolv(folder, "run net.json --quiet");
  EXPECT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(hosttest::readWav(folder / "out.wav").frames(), 10 * 320);
  writeText(folder / "net.yaml", R"(nodes:
  source:
    type: WaveSource
    params: {FILE: in.wav, LENGTH: &len 400, ADVANCE: &adv 200}
  spectrum:
    type: STFT
    params: {LENGTH: *len, WINDOW: &win RECTANGLE}
    inputs: {AUDIO: source.AUDIO}
  back:
    type: ISTFT
    params: {LENGTH: *len, ADVANCE: *adv, WINDOW: *win}
    inputs: {SPECTRUM: spectrum.SPECTRUM}
  sink:
    type: WaveSink
    params: {FILE: "out.wav", SAMPLING_RATE: 16000}
    inputs: {AUDIO: back.AUDIO}
)");
  auto yaml = runKolv(folder, "run net.yaml --quiet");
  EXPECT_EQ(yaml.status, 0) << yaml.err;
  EXPECT_EQ(hosttest::readWav(folder / "out.wav").frames(), 1600);
}
