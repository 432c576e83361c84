// Parameter declarations: what a table accepts, refuses and warns of, how a
// node reads a value given or left out, and how the table reads to a user.
#include <gtest/gtest.h>

#include <limits>

#include "GenericType.h"
#include "NodeDescription.h"
#include "TestNetwork.h"

namespace {

using KOLV::floatParameter;
using KOLV::intParameter;
using KOLV::ObjectRef;
using KOLV::ParameterInfo;
using KOLV::ParameterSet;
using KOLV::stringParameter;
using kolvtest::floatValue;
using kolvtest::intValue;
using kolvtest::stringValue;

TEST(ParameterDeclaration, RangesAcceptAndRefuseAtTheirEnds) {
  struct Case {
    ParameterInfo declaration;
    ObjectRef value;
    bool accepted;
  };
  const ParameterInfo frames = intParameter("FRAMES", "", "frames").atLeast(1).atMost(16);
  const ParameterInfo shift = intParameter("ADVANCE", "samples", "shift").above(0);
  const ParameterInfo gain = floatParameter("GAIN", "", "gain").atLeast(-1.0).below(1.0);
  const Case cases[] = {
      {frames, intValue(1), true},          {frames, intValue(16), true},
      {frames, intValue(0), false},         {frames, intValue(17), false},
      {shift, intValue(1), true},           {shift, intValue(0), false},
      {gain, floatValue(-1.0f), true},      {gain, floatValue(0.999f), true},
      {gain, floatValue(1.0f), false},
      // Not a number is never inside a range.
      {gain, floatValue(std::numeric_limits<float>::quiet_NaN()), false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.declaration.name + " " + c.value->className());
    EXPECT_EQ(c.declaration.refusal(c.value).empty(), c.accepted) << c.declaration.refusal(c.value);
  }
  EXPECT_EQ(frames.refusal(intValue(0)), "parameter FRAMES is 0; it must be 1 to 16");
  EXPECT_EQ(shift.refusal(intValue(-3)), "parameter ADVANCE is -3 samples; it must be above 0");
  EXPECT_EQ(gain.acceptedText(), "at least -1 and below 1");
}

TEST(ParameterDeclaration, StrictChoicesRefuseAndKnownValuesOnlyWarn) {
  const ParameterInfo window = stringParameter("WINDOW", "", "window").oneOf({"HANN", "HAMMING"});
  const ParameterInfo method =
      stringParameter("METHOD", "", "rule").knownValues({"WIENER", "MMSE"});
  EXPECT_EQ(window.refusal(stringValue("HANN")), "");
  EXPECT_EQ(window.refusal(stringValue("hann")),
            "parameter WINDOW is 'hann'; it must be one of HANN, HAMMING");
  EXPECT_EQ(window.warning(stringValue("hann")), "");
  EXPECT_EQ(method.refusal(stringValue("wiener")), "");
  EXPECT_EQ(method.warning(stringValue("MMSE")), "");
  EXPECT_NE(method.warning(stringValue("wiener")).find(
                "parameter METHOD is 'wiener', which is not one of WIENER, MMSE"),
            std::string::npos);
}

TEST(ParameterDeclaration, ReadsTheGivenValueElseTheDefault) {
  const ParameterInfo sources = intParameter("SOURCES", "", "talkers").byDefault(2);
  const ParameterInfo lookAhead = floatParameter("LOOK_AHEAD", "s", "look-ahead").byDefault(0.5f);
  const ParameterInfo rule = stringParameter("RULE", "", "rule").byDefault("IP");
  const ParameterInfo required = intParameter("REQUIRED", "", "no default");
  ParameterSet none;
  EXPECT_EQ(sources.readInt(none), 2);
  EXPECT_EQ(lookAhead.readFloat(none), 0.5f);
  EXPECT_EQ(rule.readString(none), "IP");
  EXPECT_EQ(lookAhead.defaultText(), "0.5");
  EXPECT_EQ(floatParameter("X", "", "").byDefault(0.0f).defaultText(), "0.0");

  ParameterSet given;
  given.add("SOURCES", intValue(3));
  given.add("LOOK_AHEAD", intValue(1));  // an int where a float is declared
  EXPECT_EQ(sources.readInt(given), 3);
  try {
    lookAhead.readFloat(given);
    FAIL() << "an int read as a float";
  } catch (KOLV::BaseException *e) {
    EXPECT_NE(e->text().find("Cast error"), std::string::npos);
    delete e;
  }
  try {
    required.readInt(none);
    FAIL() << "a missing parameter without a default";
  } catch (KOLV::BaseException *e) {
    EXPECT_NE(e->text().find("Missing parameter: REQUIRED"), std::string::npos);
    delete e;
  }
}

struct Declared : KOLV::ParameterTable {
  const ParameterInfo &first = add(intParameter("FIRST", "", "").atLeast(0));
  const ParameterInfo &second = add(stringParameter("SECOND", "", "").oneOf({"A", "B"}));
};

TEST(ParameterDeclaration, ATableKeepsItsOrderAndValidatesWhatIsGiven) {
  const Declared table;
  ASSERT_EQ(table.entries().size(), 2u);
  EXPECT_EQ(table.entries()[0].name, "FIRST");
  EXPECT_EQ(table.first.name, "FIRST");  // members stay valid as the table grows
  EXPECT_EQ(table.second.name, "SECOND");
  ParameterSet params;
  params.add("SECOND", stringValue("C"));
  try {
    table.validate(params, "Node 'n'");
    FAIL() << "a value outside the choices";
  } catch (KOLV::GeneralException *e) {
    EXPECT_EQ(e->message(), "Node 'n': parameter SECOND is 'C'; it must be one of A, B");
    delete e;
  }
  ParameterSet good;
  good.add("FIRST", intValue(4));
  EXPECT_NO_THROW(table.validate(good, "Node 'n'"));
}

}  // namespace
