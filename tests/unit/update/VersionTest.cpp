#include "update/UpdateCheck.h"

#include <gtest/gtest.h>

namespace {

struct VersionCase {
    const char* name;
    const char* candidate;
    const char* reference;
    bool newer;
};

class VersionIsNewer : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionIsNewer, ComparesComponentsNumerically) {
    const VersionCase& c = GetParam();
    EXPECT_EQ(hb::update::versionIsNewer(QString::fromUtf8(c.candidate), QString::fromUtf8(c.reference)),
              c.newer)
        << c.candidate << " vs " << c.reference;
}

const VersionCase kCases[] = {
    {"NumericNotTextual", "1.2.10", "1.2.9", true},
    {"TwoDigitMinor", "1.10", "1.9", true},
    {"MissingComponentIsZero", "1.2", "1.2.0", false},
    {"ExtraComponentBeatsMissing", "1.2.0.1", "1.2", true},
    {"EqualIsNotNewer", "2.0", "2.0", false},
    {"BothEmpty", "", "", false},
    {"EmptyCandidate", "", "0.1", false},
    {"SuffixPieceCountsAsZero", "1.3-beta", "1.2", false},
    {"LetterPrefixCountsAsZero", "v2", "1", false},
    {"DoubledDotDropped", "1..2", "1.1", true},
    {"LeadingAndTrailingDots", ".2.", "1", true},
    {"OlderIsNotNewer", "1.2.9", "1.2.10", false},
    {"SignedComponents", "+2", "-1", true},
    {"NegativeBelowMissing", "1.-1", "1", false},
    {"OutOfRangeCountsAsZero", "1.99999999999999999999", "1.1", false},
    {"Int64MaxCompares", "1.9223372036854775807", "1.9223372036854775806", true},
    {"WhitespaceCountsAsZero", "1. 5", "1.4", false},
    {"OnlyDotsAgainstZero", "...", "0", false},
};

INSTANTIATE_TEST_SUITE_P(Table, VersionIsNewer, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
