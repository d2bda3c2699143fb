#include <gtest/gtest.h>

#include "fileutil/fileutil.h"

TEST(Sha256Hex, EmptyInputGivesTheStandardDigest) {
  EXPECT_EQ(riz::sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}
