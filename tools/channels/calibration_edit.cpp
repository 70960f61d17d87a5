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

void refuse_equal_volts(const std::string &path, point first, point second)
{
    if (first.volts != second.volts)
        return;
    char volts[32];
    (void)std::snprintf(volts, sizeof volts, "%.4f", first.volts);
    throw file_error(path + ": a calibration needs two different volts (both " + volts +
                     "): apply two different values; nothing written");
}

} // namespace

std::string with_calibration(std::string_view text, const std::string &path, const board_identity &board,
                             int input, point first, point second)
{
    refuse_equal_volts(path, first, second);
    const channel_file file = parse_channel_file(text, path);
    const toml::table root = toml::parse(text, path);
    auto lines = lines_of(text);
    const std::string header = "[board.input." + std::to_string(input) + "]";
    const board_entry *found = board_for(file, board.device, board.serial);
    if (!found) {
        const auto added = new_board(board);
        lines.insert(lines.end(), added.begin(), added.end());
        lines.insert(lines.end(), {"", header, calibration_line(first, second)});
        return joined(lines);
    }
    const auto index = static_cast<std::size_t>(found - file.boards.data());
    const toml::table &entry = *root["board"][index].as_table();
    if (const auto *existing = entry["input"][std::to_string(input)].as_table()) {
        const auto at = existing->source().begin.line; // its header's line
        drop_scale_keys(lines, *existing);
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), calibration_line(first, second));
        return joined(lines);
    }
    std::size_t end = index + 1 < file.boards.size() ? file.boards[index + 1].line - 1 : lines.size();
    while (end > 0 && lines[end - 1].empty())
        --end;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(end),
                 {"", header, calibration_line(first, second)});
    return joined(lines);
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
