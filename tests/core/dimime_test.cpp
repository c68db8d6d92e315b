#include "core/dimime.h"

#include <gtest/gtest.h>

#include <random>

namespace qf {
namespace {

TEST(Dimime, EncodesWithPadding) {
  EXPECT_EQ(MimeEncodeString(""), "");
  EXPECT_EQ(MimeEncodeString("f"), "Zg==");
  EXPECT_EQ(MimeEncodeString("fo"), "Zm8=");
  EXPECT_EQ(MimeEncodeString("foo"), "Zm9v");
  EXPECT_EQ(MimeEncodeString("foobar"), "Zm9vYmFy");
  EXPECT_EQ(MimeEncodeString(std::string("\xff\xfe\x00", 3)), "//4A");
}

TEST(Dimime, NeverBreaksLines) {
  std::string login(57, 'x');
  std::string encoded = MimeEncodeString(std::string(300, 'y'));
  EXPECT_EQ(encoded.find('\n'), std::string::npos);
  EXPECT_EQ(MimeEncodeString(login).size(), 76u);  // 57 bytes fill one 76-character line exactly
}

TEST(Dimime, DecodingToleratesLineBreaksAndBlanks) {
  EXPECT_EQ(MimeDecodeString("Zm9v\r\nYmFy"), "foobar");
  EXPECT_EQ(MimeDecodeString(" Zm9vYg==\n"), "foob");
  EXPECT_EQ(MimeDecodeString("Zm9vYmE="), "fooba");
  EXPECT_EQ(MimeDecodeString("dXNlcjpwYXNz"), "user:pass");
}

TEST(Dimime, RoundTripsEveryByte) {
  std::mt19937 random(7);
  for (int round = 0; round < 100; ++round) {
    std::string bytes(random() % 200, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    ASSERT_EQ(MimeDecodeString(MimeEncodeString(bytes)), bytes);
  }
}

}  // namespace
}  // namespace qf
