#pragma once
// The JSON report of a run, written to the "--report=" path after the run (or from the
// failure summary on the fatal-error path). Its exact bytes are an interface: fixed
// members in a fixed order, two-space indentation, one member per line. The text uses
// "\n"; the file is written in text mode, so it holds CR LF on Windows.

#include <filesystem>
#include <string>
#include <string_view>

#include "app/run_summary.h"
#include "base/types.h"

namespace kestrune::app {

// The whole report for `summary`.
std::string formatSmokeReport(const RunSummary& summary);

// A report string's contents (without quotes): the UTF-8 of `text`, or
// "<utf8-conversion-failed>" when `text` is not valid UTF-16, with quote, backslash,
// line feed, carriage return and tab escaped and every other byte below 0x20 as "?".
std::string escapeReportString(std::u16string_view text);

// A report real: the general format with 6 significant digits ("0", "16.5",
// "1.23457e+06"), as a default-formatted output stream writes it. A non-finite value,
// which JSON cannot spell as a number, is written as null.
std::string formatReportReal(f64 value);

// Does nothing for an empty path. Creates missing parent directories (a failure there
// throws the file system's error), replaces the file, and throws std::runtime_error
// "Unable to create smoke report." when it cannot be opened or "Unable to write smoke
// report." when its contents did not reach it whole.
void writeSmokeReport(const std::filesystem::path& reportPath, const RunSummary& summary);

}  // namespace kestrune::app
