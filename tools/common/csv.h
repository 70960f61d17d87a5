// The recordings' CSV: a header of "seconds" and the channel names, then one
// line a scan, seconds since the first scan then each value.
#pragma once

#include <span>
#include <string>

namespace vostrelle::tools {

// "%.6f": how seconds and volts are written.
std::string csv_number(double value);

// "seconds,NAME,…\n".
std::string csv_header(std::span<const std::string> names);

// "SECONDS,FIELD,…\n", the seconds as csv_number writes them.
std::string csv_line(double seconds, std::span<const std::string> fields);
std::string csv_line(double seconds, std::span<const double> values);

} // namespace vostrelle::tools
