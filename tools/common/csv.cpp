// The recordings' CSV lines.
#include "csv.h"

#include "text.h"

namespace vostrelle::tools {

std::string csv_number(double value)
{
    return formatted("%.6f", value);
}

std::string csv_header(std::span<const std::string> names)
{
    std::string line = "seconds";
    for (const auto &name : names)
        line += "," + name;
    return line + "\n";
}

std::string csv_line(double seconds, std::span<const std::string> fields)
{
    std::string line = csv_number(seconds);
    for (const auto &field : fields)
        line += "," + field;
    return line + "\n";
}

std::string csv_line(double seconds, std::span<const double> values)
{
    std::string line = csv_number(seconds);
    for (const double value : values)
        line += "," + csv_number(value);
    return line + "\n";
}

} // namespace vostrelle::tools
