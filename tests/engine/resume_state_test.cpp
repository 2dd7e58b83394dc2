#include "patcher/engine/resume_state.h"

#include <gtest/gtest.h>

#include "patcher/engine/download_plan.h"

namespace sv {
namespace {

TEST(ResumeState, RoundTripAndSegmentLengths) {
  ResumeState state;
  state.crc = 0x00c0ffee;
  state.size = 10000000;
  state.remoteSize = 9437185;  // nine 1 MiB segments and one byte
  state.segmentSize = 1048576;
  state.partDone = {1, 1, 0, 1, 0, 0, 0, 0, 0, 1};
  const std::string text = FormatResumeState(state);
  EXPECT_EQ(text, "SVS1 00c0ffee 10000000 9437185 1048576 1101000001");

  ResumeState back;
  ASSERT_TRUE(ParseResumeState(text + "\r\n", 0x00c0ffee, 10000000, back));
  EXPECT_EQ(back.remoteSize, 9437185u);
  EXPECT_EQ(back.partDone, state.partDone);
  EXPECT_EQ(SegmentLength(back.remoteSize, back.segmentSize, 0), 1048576u);
  EXPECT_EQ(SegmentLength(back.remoteSize, back.segmentSize, 9), 1u);
  EXPECT_EQ(SegmentLength(back.remoteSize, back.segmentSize, 10), 0u);
}

TEST(ResumeState, StateOfAnotherFileOrInconsistentIsRefused) {
  ResumeState s;
  const char* good = "SVS1 00c0ffee 1000 900 400 101";
  EXPECT_TRUE(ParseResumeState(good, 0x00c0ffee, 1000, s));
  // The file changed on the server: other CRC or size.
  EXPECT_FALSE(ParseResumeState(good, 0x00c0fffe, 1000, s));
  EXPECT_FALSE(ParseResumeState(good, 0x00c0ffee, 1001, s));
  EXPECT_FALSE(ParseResumeState("SVS2 00c0ffee 1000 900 400 101", 0x00c0ffee, 1000, s));
  EXPECT_FALSE(ParseResumeState("SVS1 00c0ffee 1000 900 400 1010", 0x00c0ffee, 1000, s));
  EXPECT_FALSE(ParseResumeState("SVS1 00c0ffee 1000 900 400", 0x00c0ffee, 1000, s));
  EXPECT_FALSE(ParseResumeState("SVS1 00c0ffee 1000 0 400 ", 0x00c0ffee, 1000, s));
  EXPECT_FALSE(ParseResumeState("SVS1 00c0ffee 1000 900 0 1", 0x00c0ffee, 1000, s));
  EXPECT_FALSE(ParseResumeState("SVS1 00c0ffee 1000 -900 400 101", 0x00c0ffee, 1000, s));
  EXPECT_FALSE(ParseResumeState("SVS1 00c0ffee 1000 900 400 101 x", 0x00c0ffee, 1000, s));
  // A remote size no ".lz" of 1000 bytes can have.
  const uint64_t tooLong = MaxLzStreamSize(1000) + 1;
  EXPECT_FALSE(ParseResumeState("SVS1 00c0ffee 1000 " + std::to_string(tooLong) + " " +
                                    std::to_string(tooLong) + " 1",
                                0x00c0ffee, 1000, s));
  EXPECT_TRUE(ParseResumeState("SVS1 00c0ffee 1000 " + std::to_string(tooLong - 1) + " " +
                                   std::to_string(tooLong - 1) + " 0",
                               0x00c0ffee, 1000, s));
}

}  // namespace
}  // namespace sv
