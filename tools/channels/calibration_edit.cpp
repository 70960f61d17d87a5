// The channel file edited as text, so that its comments and layout stay.
#include "calibration_edit.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

#define TOML_EXCEPTIONS 1
#define TOML_HEADER_ONLY 1
#include <toml++/toml.h>

namespace vostrelle::channels {

namespace {

const char *const scale_keys[] = {"gain", "offset", "calibration", "table"};

std::vector<std::string> lines_of(std::string_view text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find('\n', start);
        lines.emplace_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        start = end == std::string_view::npos ? text.size() : end + 1;
    }
    return lines;
}

std::string joined(const std::vector<std::string> &lines)
{
    std::string text;
    for (const auto &line : lines)
        text += line + "\n";
    return text;
}

std::string calibration_line(point first, point second)
{
    char buffer[160];
    (void)std::snprintf(buffer, sizeof buffer, "calibration = [[%.4f, %.10g], [%.4f, %.10g]]", first.volts,
                        first.value, second.volts, second.value);
    return buffer;
}

std::string quoted(const std::string &text)
{
    std::string out = "\"";
    for (const char ch : text)
        out += ch == '"' || ch == '\\' ? std::string{'\\', ch} : std::string{ch};
    return out + "\"";
}

// Lines (0-based, first to last) that hold the input's scale keys.
void drop_scale_keys(std::vector<std::string> &lines, const toml::table &input)
{
    std::vector<std::pair<std::size_t, std::size_t>> spans;
    for (const auto &[key, node] : input)
        for (const char *name : scale_keys)
            if (key.str() == name)
                spans.emplace_back(key.source().begin.line - 1, node.source().end.line - 1);
    std::sort(spans.rbegin(), spans.rend());
    for (const auto &[first, last] : spans)
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(first),
                    lines.begin() + static_cast<std::ptrdiff_t>(last) + 1);
}

std::vector<std::string> new_board(const board_identity &board)
{
    return {"", "[[board]]",
            board.serial ? "serial = " + quoted(*board.serial) : "device = " + quoted(board.device)};
}

// Where the calibration line goes: the file's lines as they will be around
// it, and its index among them.
struct placement {
    std::vector<std::string> lines;
    std::size_t at = 0;
};

[[noreturn]] void refuse(const std::string &path, std::size_t line, const std::string &what)
{
    throw file_error(path + ":" + std::to_string(line) + ": " + what);
}

// The edit writes into tables that start with a header line of their own,
// not inline ones ({ ... }) nor ones made by dotted keys (input.0.name = ...).
void refuse_without_header(const std::string &path, const std::vector<std::string> &lines, std::size_t line,
                           const std::string &header)
{
    const std::string &text = lines.at(line - 1);
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos || text[first] != '[')
        refuse(path, line,
               "calibrate writes into a table under its own header; write this one as " + header +
                   " with its keys on the lines below, one a line, not as { ... } or dotted keys");
}

placement new_input(std::vector<std::string> lines, std::size_t at, const std::string &header)
{
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), {"", header});
    return {std::move(lines), at + 2};
}

placement place_calibration(std::string_view text, const std::string &path, const board_identity &board,
                            int input)
{
    const channel_file file = parse_channel_file(text, path);
    const toml::table root = toml::parse(text, path);
    auto lines = lines_of(text);
    const std::string header = "[board.input." + std::to_string(input) + "]";
    const board_entry *found = board_for(file, board.device, board.serial);
    if (!found) {
        for (const auto &other : file.boards) // a [[board]] cannot follow an inline list of them
            refuse_without_header(path, lines, static_cast<std::size_t>(other.line), "[[board]]");
        const auto added = new_board(board);
        lines.insert(lines.end(), added.begin(), added.end());
        const std::size_t end = lines.size();
        return new_input(std::move(lines), end, header);
    }
    refuse_without_header(path, lines, static_cast<std::size_t>(found->line), "[[board]]");
    const auto index = static_cast<std::size_t>(found - file.boards.data());
    const toml::table &entry = *root["board"][index].as_table();
    if (const auto *existing = entry["input"][std::to_string(input)].as_table()) {
        const auto at = existing->source().begin.line; // its header's line
        refuse_without_header(path, lines, at, header);
        drop_scale_keys(lines, *existing);
        return {std::move(lines), at};
    }
    std::size_t end = index + 1 < file.boards.size() ? file.boards[index + 1].line - 1 : lines.size();
    while (end > 0 && lines[end - 1].empty())
        --end;
    return new_input(std::move(lines), end, header);
}

} // namespace

std::string with_calibration(std::string_view text, const std::string &path, const board_identity &board,
                             int input, point first, point second)
{
    auto place = place_calibration(text, path, board, input);
    if (first.volts == second.volts) {
        char volts[32];
        (void)std::snprintf(volts, sizeof volts, "%.4f", first.volts);
        refuse(path, place.at + 1,
               std::string("a calibration needs two different volts (both ") + volts +
                   "): apply two different values; nothing written");
    }
    place.lines.insert(place.lines.begin() + static_cast<std::ptrdiff_t>(place.at),
                       calibration_line(first, second));
    return joined(place.lines);
}

static file_error not_written(const std::string &path, const char *step, int error)
{
    return file_error(path + ": cannot " + step + ": " + std::strerror(error) +
                      "; the file is left as it was");
}

void replace_file(const std::string &path, const std::string &text)
{
    const std::string temporary = path + ".new";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw not_written(path, "write beside it", errno);
    const bool written =
        write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && fsync(fd) == 0;
    const int error = errno;
    if (close(fd) != 0 || !written) {
        unlink(temporary.c_str());
        throw not_written(path, "write the new contents", written ? errno : error);
    }
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        const int rename_error = errno;
        unlink(temporary.c_str());
        throw not_written(path, "replace it", rename_error);
    }
}

} // namespace vostrelle::channels
