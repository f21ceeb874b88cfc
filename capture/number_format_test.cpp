#include "capture/number_format.h"

#include <gtest/gtest.h>

namespace capture {
namespace {

struct FormatCase {
    double value;
    const char* pattern;
    const char* text;
};

TEST(FormatNumber, FollowsThePattern) {
    const FormatCase cases[] = {
        {64040, "###,###,##0.0##", "64,040.0"},
        {1234.5678, "###,###,##0.0##", "1,234.568"},
        {65, "###,###,##0.##", "65."},
        {65.5, "###,###,##0.##", "65.5"},
        {0, "###,###,##0.0##", "0.0"},
        {0.001, "###,###,##0.0##", "0.001"},
        {0.0004, "###,###,##0.0##", "0.0"},
        {48024, "###,###,##0.0##", "48,024.0"},
        {999.9996, "###,###,##0.0##", "1,000.0"},
        {12.3, "####,##0.###", "12.3"},
        {123, "#,###,###,##0", "123"},
        {1234567890123, "###,###,###,##0", "1,234,567,890,123"},
        // Grouping is in threes wherever the commas stand.
        {1234567, "###,####,###,##0", "1,234,567"},
        // More digits than placeholders are all shown.
        {1e15, "##0", "1000000000000000"},
        {2997, "###,###,##0", "2,997"},
        // Halves round away from zero, as the decimal text reads.
        {0.5, "###,###,##0", "1"},
        {2.5, "##0", "3"},
        {1.0005, "0.###", "1.001"},
        {1.2345, "0.0##", "1.235"},
        {-1234.5, "#,##0.0", "-1,234.5"},
        {-0.04, "0.0", "0.0"},
        // No required whole digit: a value below one starts at the point.
        {0.5, "#.##", ".5"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatNumber(c.value, c.pattern), c.text) << c.value << " in " << c.pattern;
}

TEST(ReportLine, TabsLabelValueSuffix) {
    EXPECT_EQ(ReportLine("Codec: ", 3, "WMA9STD"), "\tCodec: \t\t\tWMA9STD");
    EXPECT_EQ(ReportLine("Total bytes: ", 2, FormatNumber(1048576, "#,###,###,##0"), " bytes"),
              "\tTotal bytes: \t\t1,048,576 bytes");
    EXPECT_EQ(ReportLine("File duration: ", 2, "30", " seconds "), "\tFile duration: \t\t30 seconds ");
}

} // namespace
} // namespace capture
