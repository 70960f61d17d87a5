// Reading the channel file with toml++, every fault reported with its line.
#include "channel_file.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

#define TOML_EXCEPTIONS 1
#define TOML_HEADER_ONLY 1
#include <toml++/toml.h>

namespace vostrelle::channels {

namespace {

const std::set<std::string_view> input_keys{"name",   "unit",        "decimals", "gain",
                                            "offset", "calibration", "table",    "limits"};
const std::set<std::string_view> board_keys{"serial", "device", "input"};
const char *const input_keys_text = "name, unit, decimals, gain, offset, calibration, table, limits";

// 1.2 as "1.2", 1 as "1.0": numbers as the file writes them.
std::string file_number(double v)
{
    char buffer[32];
    (void)std::snprintf(buffer, sizeof buffer, "%g", v);
    std::string text = buffer;
    if (text.find_first_of(".e") == std::string::npos)
        text += ".0";
    return text;
}

std::string not_a_table(const std::string &input)
{
    return "input " + input + " is a table: [board.input." + input + "]";
}

struct reader {
    const std::string &path;

    [[noreturn]] void fail(const toml::source_region &where, const std::string &what) const
    {
        throw file_error(path + ":" + std::to_string(where.begin.line) + ": " + what);
    }

    std::string text_at(const toml::node &n, const std::string &key) const
    {
        if (!n.is_string())
            fail(n.source(), key + " must be a quoted text, e.g. " + key + " = \"...\"");
        return **n.as_string();
    }

    double number_at(const toml::node &n, const std::string &key) const
    {
        if (auto v = n.value<double>(); v && (n.is_floating_point() || n.is_integer()) && std::isfinite(*v))
            return *v;
        fail(n.source(), key + " must be a number, e.g. " + key + " = 1.0");
    }

    std::vector<point> points_at(const toml::node &n, const std::string &key) const
    {
        const auto *list = n.as_array();
        std::vector<point> points;
        for (std::size_t i = 0; list && i < list->size(); ++i) {
            const auto *pair = (*list)[i].as_array();
            if (!pair || pair->size() != 2)
                break;
            points.push_back({number_at((*pair)[0], key), number_at((*pair)[1], key)});
        }
        if (!list || points.size() != list->size() || points.size() < 2)
            fail(n.source(),
                 key + " must list [volts, value] pairs, e.g. " + key + " = [[0.5, 10.0], [4.5, 1000.0]]");
        return points;
    }

    scale calibration_at(const toml::node &n) const
    {
        const auto points = points_at(n, "calibration");
        if (points.size() != 2)
            fail(n.source(), "a calibration has two points, e.g. calibration = [[0.5, 10.0], [4.5, 1000.0]]");
        if (points[0].volts == points[1].volts)
            fail(n.source(),
                 "a calibration needs two different volts (both " + file_number(points[0].volts) + ")");
        return two_point_scale(points[0], points[1]);
    }

    scale table_at(const toml::node &n) const
    {
        const auto points = points_at(n, "table");
        for (std::size_t i = 1; i < points.size(); ++i)
            if (points[i].volts <= points[i - 1].volts)
                fail(n.source(), "the table's volts must increase (" + file_number(points[i].volts) +
                                     " after " + file_number(points[i - 1].volts) + ")");
        return table_scale(points);
    }

    int decimals_at(const toml::node &n) const
    {
        const auto v = n.value<int64_t>();
        if (!n.is_integer() || !v || *v < 0 || *v > 9)
            fail(n.source(), "decimals must be a whole number 0..9, e.g. decimals = 1");
        return static_cast<int>(*v);
    }

    std::array<double, 2> limits_at(const toml::node &n) const
    {
        const auto *list = n.as_array();
        if (!list || list->size() != 2)
            fail(n.source(), "limits must be [low, high], e.g. limits = [10.0, 40.0]");
        const std::array<double, 2> limits{number_at((*list)[0], "limits"), number_at((*list)[1], "limits")};
        if (limits[0] >= limits[1])
            fail(n.source(), "limits must be [low, high] with low below high");
        return limits;
    }

    void check_input_keys(const toml::table &t, const std::string &section) const
    {
        for (const auto &[key, node] : t)
            if (!input_keys.contains(key.str()))
                fail(key.source(), "unknown key '" + std::string(key.str()) + "' in [" + section + "] (use " +
                                       input_keys_text + ")");
        const int scales = int(t.contains("gain") || t.contains("offset")) + int(t.contains("calibration")) +
                           int(t.contains("table"));
        if (scales > 1)
            fail(t.source(), "one scale per input: gain and offset, or calibration, or table");
    }

    channel input_at(const toml::table &t, const std::string &section) const
    {
        check_input_keys(t, section);
        channel c;
        if (const auto *n = t.get("name"))
            c.name = text_at(*n, "name");
        if (const auto *n = t.get("unit"))
            c.unit = text_at(*n, "unit");
        if (const auto *n = t.get("decimals"))
            c.decimals = decimals_at(*n);
        if (const auto *n = t.get("limits"))
            c.limits = limits_at(*n);
        const auto *gain = t.get("gain");
        const auto *offset = t.get("offset");
        if (gain || offset)
            c.scaling =
                linear_scale(gain ? number_at(*gain, "gain") : 1, offset ? number_at(*offset, "offset") : 0);
        if (const auto *n = t.get("calibration"))
            c.scaling = calibration_at(*n);
        if (const auto *n = t.get("table"))
            c.scaling = table_at(*n);
        return c;
    }

    void read_inputs(const toml::node &n, board_entry &board) const
    {
        const auto *inputs = n.as_table();
        if (!inputs)
            fail(n.source(), "inputs are tables: [board.input.0]");
        for (const auto &[key, node] : *inputs) {
            const std::string k(key.str());
            const bool known = k.size() == 1 && k[0] >= '0' && k[0] < '0' + input_count;
            if (!known)
                fail(key.source(), "input " + k + " does not exist: the board has inputs 0..7");
            const auto *t = node.as_table();
            if (!t)
                fail(node.source(), not_a_table(k));
            board.inputs[static_cast<std::size_t>(k[0] - '0')] = input_at(*t, "board.input." + k);
        }
    }

    board_entry board_at(const toml::node &n) const
    {
        const auto *t = n.as_table();
        if (!t)
            fail(n.source(), "each board is a [[board]] table");
        board_entry board;
        board.line = static_cast<int>(t->source().begin.line);
        for (const auto &[key, node] : *t)
            if (!board_keys.contains(key.str()))
                fail(key.source(), "unknown key '" + std::string(key.str()) +
                                       "' in [[board]] (use serial or device, and [board.input.N] tables)");
        if (const auto *s = t->get("serial"))
            board.serial = text_at(*s, "serial");
        if (const auto *d = t->get("device"))
            board.device = text_at(*d, "device");
        if (board.serial.empty() == board.device.empty())
            fail(t->source(), "a board is matched by one of serial = \"...\" or device = \"/dev/...\"");
        if (const auto *inputs = t->get("input"))
            read_inputs(*inputs, board);
        return board;
    }
};

toml::table parsed(std::string_view text, const std::string &path)
{
    try {
        return toml::parse(text, path);
    } catch (const toml::parse_error &e) {
        throw file_error(path + ":" + std::to_string(e.source().begin.line) + ": " +
                         std::string(e.description()) + " (see the example in the README)");
    }
}

} // namespace

channel_file parse_channel_file(std::string_view text, const std::string &path)
{
    const toml::table root = parsed(text, path);
    const reader r{path};
    channel_file file{path, {}};
    for (const auto &[key, node] : root) {
        if (key.str() != "board" || !node.is_array())
            r.fail(key.source(),
                   "unknown key '" + std::string(key.str()) + "' (the file holds [[board]] tables)");
        for (const auto &board : *node.as_array())
            file.boards.push_back(r.board_at(board));
    }
    return file;
}

const board_entry *board_for(const channel_file &file, const std::string &device,
                             const std::optional<std::string> &serial)
{
    const auto found = std::find_if(file.boards.begin(), file.boards.end(), [&](const board_entry &b) {
        return b.serial.empty() ? b.device == device : serial && b.serial == *serial;
    });
    return found == file.boards.end() ? nullptr : &*found;
}

} // namespace vostrelle::channels
