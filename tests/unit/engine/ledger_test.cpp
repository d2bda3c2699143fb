#include "engine/ledger.h"

#include <gtest/gtest.h>

#include <regex>

#include "engine_fixture.h"

namespace riz {
namespace {

using enginetest::EngineDirTest;

TEST(LedgerKey, NameSizeAndTimeInPlainDecimals) {
  EXPECT_EQ(ledgerKey(L"Befund.pdf", 10, 1699999999000), L"Befund.pdf|10|1699999999000");
  EXPECT_EQ(ledgerKey(L"a.bef", 0, 0), L"a.bef|0|0");
  EXPECT_EQ(ledgerKey(L"\u00c4rztin.pdf", UINT64_MAX, 7),
            L"\u00c4rztin.pdf|18446744073709551615|7");
  EXPECT_NE(ledgerKey(L"A.pdf", 1, 1), ledgerKey(L"a.pdf", 1, 1)) << "keys are case-sensitive";
}

class LedgerTest : public EngineDirTest {};

TEST_F(LedgerTest, AppendWritesOneLfLineAndRecordsTheVersion) {
  const std::string sha(64, 'a');
  appendLedger(L"Befund.pdf", 10, 1699999999000, sha);
  appendLedger(L"\u00c4rztin \u6587.bef", 3, 5, std::string(64, 'b'));

  const std::string text = ledgerText();
  static const std::regex line(
      "Befund\\.pdf\t10\t1699999999000\ta{64}\t\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}"
      "Z\n"
      "\xC3\x84rztin \xE6\x96\x87\\.bef\t3\t5\tb{64}\t[0-9T:.Z-]{24}\n");
  EXPECT_TRUE(std::regex_match(text, line)) << text;
  EXPECT_EQ(text.find('\r'), std::string::npos);
  EXPECT_EQ(capturedKeys.count(L"Befund.pdf|10|1699999999000"), 1u);
  EXPECT_EQ(capturedSha256[L"Befund.pdf|10|1699999999000"], sha);
}

TEST_F(LedgerTest, LoadSkipsShortLinesAndKeepsTheLastDigestOfAKey) {
  const std::string a(64, 'a'), b(64, 'b'), c(64, 'c');
  ASSERT_TRUE(test::writeFile(settings.ledgerPath,
                              "one.pdf\t1\t100\t" + a +
                                  "\t2024-01-01T00:00:00.000Z\n"
                                  "two tabs only\t2\t200\n"
                                  "\n"
                                  "one.pdf\t1\t100\t" +
                                  b +
                                  "\t2024-01-02T00:00:00.000Z\n"
                                  "\xC3\x84rztin \xE6\x96\x87.bef\t3\t300\t" +
                                  c +
                                  "\n"
                                  "no-fifth.bef\t4\t400\tshort\n"
                                  "last.bef\t5\t500\t" +
                                  a));  // no final LF
  loadLedger();
  EXPECT_EQ(capturedKeys, (std::set<std::wstring>{L"one.pdf|1|100", L"\u00c4rztin \u6587.bef|3|300",
                                                  L"no-fifth.bef|4|400", L"last.bef|5|500"}));
  EXPECT_EQ(capturedSha256[L"one.pdf|1|100"], b);
  EXPECT_EQ(capturedSha256[L"\u00c4rztin \u6587.bef|3|300"], c);
  EXPECT_EQ(capturedSha256[L"no-fifth.bef|4|400"], "short");
  EXPECT_EQ(capturedSha256[L"last.bef|5|500"], a);
}

TEST_F(LedgerTest, AppendedLinesLoadBackToTheSameKeys) {
  appendLedger(L"\u00c4rztin \u6587.bef", 3, 1699999999000, std::string(64, 'd'));
  const auto keys = capturedKeys;
  capturedKeys.clear();
  capturedSha256.clear();
  loadLedger();
  EXPECT_EQ(capturedKeys, keys);
  EXPECT_EQ(capturedSha256[L"\u00c4rztin \u6587.bef|3|1699999999000"], std::string(64, 'd'));
}

TEST_F(LedgerTest, MissingOrOversizedLedgerLoadsNothing) {
  loadLedger();
  EXPECT_TRUE(capturedKeys.empty());
  ASSERT_TRUE(test::makeFileOfSize(settings.ledgerPath, 67108865));
  loadLedger();
  EXPECT_TRUE(capturedKeys.empty());
}

}  // namespace
}  // namespace riz
