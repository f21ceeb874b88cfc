// Number patterns of the end-of-run report: "0" a digit always shown, "#" a digit shown only when
// significant, "." the decimal point, and a comma among the integer placeholders groups the integer
// digits in threes wherever it stands. Decimals beyond the pattern are rounded half away from zero;
// the point is written even when no optional decimal follows it (65 in "##0.##" gives "65.").
#pragma once

#include <string>
#include <string_view>

namespace capture {

std::string FormatNumber(double value, std::string_view pattern);

// One line of the report: a tab, the label, `tabs` tabs, the value and the suffix.
std::string ReportLine(std::string_view label, int tabs, std::string_view value,
                       std::string_view suffix = {});

} // namespace capture
