#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "LeadingDirections.h"

using namespace localization;

namespace {

constexpr int kLeader = 60;   // direction index of the frames' highest peak (-30 degrees)
constexpr int kMemory = 100;  // frames

RoomSettings roomSettings(float level) {
  RoomSettings settings;
  settings.level = level;
  settings.memoryFrames = kMemory;
  settings.share = 0.2f;
  settings.gate = 6;
  return settings;
}

using Spectrum = std::array<float, kDirections>;

PeakList frameOf(std::vector<Peak> highestFirst) {
  PeakList peaks;
  for (const Peak &p : highestFirst) peaks.peaks[peaks.count++] = p;
  return peaks;
}

// A spatial spectrum with these values at these directions and a steady
// level elsewhere (a further peak of that value has not grown).
Spectrum spectrumOf(std::vector<Peak> values) {
  Spectrum spectrum;
  spectrum.fill(0.15f);
  for (const Peak &p : values) spectrum[p.direction] = p.value;
  return spectrum;
}

// Feeds `frames` frames whose only peak is `leader`, with the same spectrum.
void repeat(LeadingDirections &leaders, int frames, Peak leader, const Spectrum &spectrum) {
  for (int t = 0; t < frames; ++t) {
    PeakList peaks = frameOf({leader});
    leaders.admit(peaks, spectrum.data());
  }
}

// Feeds `frames` frames whose only peak is at `direction` with `value`.
void lead(LeadingDirections &leaders, int frames, int direction, float value) {
  repeat(leaders, frames, {direction, value}, spectrumOf({{direction, value}}));
}

int keptAfterHighest(LeadingDirections &leaders, int direction, float highest) {
  PeakList peaks = frameOf({{kLeader, highest}, {direction, 0.15f}});
  leaders.admit(peaks, spectrumOf({{kLeader, highest}, {direction, 0.15f}}).data());
  return peaks.count - 1;
}

}  // namespace

// A reflection's peak seldom leads a frame; a talker's does whenever their
// voice leads. In a reverberant stream (low leading peaks) a further peak is
// kept only near recent leaders; where the peaks are high (anechoic) or the
// rule is off, every peak is kept.
TEST(LeadingDirections, KeepsAFurtherPeakInARoomOnlyNearRecentLeaders) {
  struct Case {
    std::string name;
    float level;          // ROOM_LEVEL
    float leaderValue;    // the leading peaks' value
    int secondDirection;  // of the further peak
    int kept;
  };
  const int otherTalker = 140, nearLeader = kLeader + 5, beyondGate = kLeader + 7;
  const std::vector<Case> cases = {
      {"room, where another talker led", 0.5f, 0.3f, otherTalker, 1},
      {"room, near the leader", 0.5f, 0.3f, nearLeader, 1},
      {"room, just beyond the gate", 0.5f, 0.3f, beyondGate, 0},
      {"room, where nobody led", 0.5f, 0.3f, 110, 0},
      {"anechoic, where nobody led", 0.5f, 0.8f, 110, 1},
      {"rule off", 0.0f, 0.3f, 110, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    LeadingDirections leaders(roomSettings(c.level));
    lead(leaders, 60, kLeader, c.leaderValue);
    lead(leaders, 20, otherTalker, c.leaderValue);
    EXPECT_EQ(keptAfterHighest(leaders, c.secondDirection, c.leaderValue), c.kept);
  }
}

// Leaders older than the memory no longer count, and the stream is judged by
// its recent leaders' level alone.
TEST(LeadingDirections, ForgetsLeadersOlderThanItsMemory) {
  LeadingDirections leaders(roomSettings(0.5f));
  lead(leaders, 40, 150, 0.3f);
  EXPECT_EQ(keptAfterHighest(leaders, 150, 0.3f), 1);
  lead(leaders, kMemory, kLeader, 0.3f);
  EXPECT_EQ(keptAfterHighest(leaders, 150, 0.3f), 0);

  lead(leaders, kMemory, kLeader, 0.9f);  // the room turned out not reverberant
  EXPECT_FALSE(leaders.inRoom());
  EXPECT_EQ(keptAfterHighest(leaders, 150, 0.9f), 1);
}

// What a further peak needs is a share of the leaders kept, so a talker who
// starts with the other is admitted after leading a few frames, and frames
// without peaks count as time passing, not as leaders. The highest peak
// itself is never dropped.
TEST(LeadingDirections, AFurtherPeakNeedsAShareOfTheLeadersKept) {
  LeadingDirections leaders(roomSettings(0.5f));
  lead(leaders, 8, kLeader, 0.3f);
  lead(leaders, 2, 150, 0.3f);
  EXPECT_EQ(keptAfterHighest(leaders, 150, 0.3f), 1);  // 2 of 10 leaders

  lead(leaders, 20, 150, 0.3f);
  const Spectrum quiet = spectrumOf({});
  for (int t = 0; t < kMemory - 10; ++t) {
    PeakList none;
    leaders.admit(none, quiet.data());
  }
  EXPECT_EQ(keptAfterHighest(leaders, 150, 0.3f), 1);  // the last 10 of them are still kept

  lead(leaders, 40, 100, 0.3f);
  PeakList peaks = frameOf({{100, 0.3f}, {150, 0.15f}});
  leaders.admit(peaks, spectrumOf({{100, 0.3f}, {150, 0.15f}}).data());
  ASSERT_EQ(peaks.count, 1);
  EXPECT_EQ(peaks.peaks[0].direction, 100);
}

// Away from the recent leaders a further peak is still kept where the
// spectrum has grown alone over the last riseFrames frames: by `rise` times,
// and `rise` times more than at the frame's leader and at every direction
// that has lately led. A talker who starts while another speaks grows where
// nothing else does; a reflection grows with its own talker's peak.
TEST(LeadingDirections, KeepsAFurtherPeakThatGrowsAlone) {
  struct Case {
    std::string name;
    float rise;                 // ROOM_RISE
    Peak leaderThen, leaderNow;  // the frame's leader, riseFrames frames ago and now
    Peak otherThen, otherNow;    // a direction that led lately
    Peak candidateThen, candidateNow;
    int kept;
  };
  const int talker = 110, otherLeader = 140;
  const std::vector<Case> cases = {
      {"a talker starting while another speaks", 2.0f, {kLeader, 0.3f}, {kLeader, 0.3f}, {otherLeader, 0.1f},
       {otherLeader, 0.1f}, {talker, 0.02f}, {talker, 0.15f}, 1},
      {"a reflection growing with the frame's leader", 2.0f, {kLeader, 0.1f}, {kLeader, 0.3f}, {otherLeader, 0.1f},
       {otherLeader, 0.1f}, {talker, 0.02f}, {talker, 0.1f}, 0},
      {"a reflection growing with a talker who led lately", 2.0f, {kLeader, 0.3f}, {kLeader, 0.3f},
       {otherLeader, 0.05f}, {otherLeader, 0.25f}, {talker, 0.02f}, {talker, 0.1f}, 0},
      {"grown too little", 2.0f, {kLeader, 0.3f}, {kLeader, 0.3f}, {otherLeader, 0.1f}, {otherLeader, 0.1f},
       {talker, 0.1f}, {talker, 0.15f}, 0},
      {"rule off", 0.0f, {kLeader, 0.3f}, {kLeader, 0.3f}, {otherLeader, 0.1f}, {otherLeader, 0.1f},
       {talker, 0.02f}, {talker, 0.15f}, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    RoomSettings settings = roomSettings(0.5f);
    settings.rise = c.rise;
    LeadingDirections leaders(settings);
    lead(leaders, 60, kLeader, 0.3f);
    lead(leaders, 20, otherLeader, 0.3f);
    repeat(leaders, settings.riseFrames, c.leaderThen, spectrumOf({c.leaderThen, c.otherThen, c.candidateThen}));
    PeakList peaks = frameOf({c.leaderNow, c.candidateNow});
    leaders.admit(peaks, spectrumOf({c.leaderNow, c.otherNow, c.candidateNow}).data());
    EXPECT_EQ(peaks.count - 1, c.kept);
  }
}

// A frame's highest peak far from every recent one is reported only where
// the spectrum has grown there `leadRise` times over the last riseFrames
// frames: a talker starts, a reflection that leads the reverberant tail
// after its talker's last word only decays. It still counts as a leader.
TEST(LeadingDirections, ReportsALeaderAwayFromTheRecentOnesOnlyWhereItGrew) {
  struct Case {
    std::string name;
    float leadRise;  // ROOM_LEAD_RISE
    float then, now;  // the spectrum at the leader's direction
    int reported;
  };
  const std::vector<Case> cases = {
      {"a talker starting", 1.5f, 0.05f, 0.2f, 1},
      {"a reflection leading a decay", 1.5f, 0.2f, 0.12f, 0},
      {"grown too little", 1.5f, 0.1f, 0.14f, 0},
      {"rule off", 0.0f, 0.2f, 0.12f, 1},
  };
  const int away = 110;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    RoomSettings settings = roomSettings(0.5f);
    settings.leadRise = c.leadRise;
    LeadingDirections leaders(settings);
    lead(leaders, 60, kLeader, 0.3f);
    repeat(leaders, settings.riseFrames, {kLeader, 0.3f}, spectrumOf({{kLeader, 0.3f}, {away, c.then}}));
    PeakList peaks = frameOf({{away, c.now}});
    leaders.admit(peaks, spectrumOf({{kLeader, 0.1f}, {away, c.now}}).data());
    EXPECT_EQ(peaks.count, c.reported);
  }
  // Unreported, such leaders still count: one that leads long enough is
  // reported near its own earlier frames.
  LeadingDirections leaders(roomSettings(0.5f));
  lead(leaders, 60, kLeader, 0.3f);
  lead(leaders, 40, away, 0.2f);
  PeakList peaks = frameOf({{away, 0.2f}});
  leaders.admit(peaks, spectrumOf({{away, 0.2f}}).data());
  EXPECT_EQ(peaks.count, 1);
}
