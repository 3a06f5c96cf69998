#include "app/option_table.h"

#include <cerrno>
#include <cstdlib>
#include <optional>

namespace pelta_cli {

namespace {

// A whole number as strtoll reads it: a sign, digits and nothing after them.
bool read_signed(std::string_view s, long long& out) {
    if (s.empty() || s.size() > 20) return false;
    const std::string copy(s);
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(copy.c_str(), &end, 10);
    if (errno || *end != '\0' || copy[0] == ' ') return false;
    out = v;
    return true;
}

// A whole number written as plain digits.
bool read_digits(std::string_view s, long long& out) {
    if (s.empty() || s.size() > 18) return false;
    long long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    out = v;
    return true;
}

bool read_number(const OptionTable& table, std::string_view s, long long& out) {
    return table.digits_only ? read_digits(s, out) : read_signed(s, out);
}

// "444, 422 or 420".
std::string one_of(const std::vector<const char*>& words) {
    std::string s;
    for (size_t i = 0; i < words.size(); ++i) {
        if (i) s += i + 1 == words.size() ? " or " : ", ";
        s += words[i];
    }
    return s;
}

bool in_range(const OptionRow& row, long long v) { return v >= row.lo && v <= row.hi; }

// What a refusal says the row takes.
std::string expected(const OptionRow& row) {
    if (!row.expects.empty()) return row.expects;
    switch (row.kind) {
        case ArgKind::Size: return "the frame size as WxH";
        case ArgKind::Choice: return one_of(row.choices);
        default: return "a number from " + std::to_string(row.lo) + " to " + std::to_string(row.hi);
    }
}

// Reads and checks the argument by the row's kind; false with `error` set.
bool read_value(const OptionTable& table, const OptionRow& row, std::string_view name, OptionValue& v,
                std::string& error) {
    const std::string opt(name), text(v.text);
    const std::string refusal = opt + " takes " + expected(row) + ", not '" + text + "'";
    switch (row.kind) {
        case ArgKind::Number:
            if (read_number(table, v.text, v.number) && in_range(row, v.number)) return true;
            break;
        case ArgKind::Control: {
            const std::string range = std::to_string(row.lo) + " to " + std::to_string(row.hi);
            if (!read_number(table, v.text, v.number)) {
                error = opt + " takes a whole number from " + range + ", not '" + text + "'";
                return false;
            }
            if (!in_range(row, v.number)) {
                error = opt + " " + text + " is out of range (" + range + ")";
                return false;
            }
            return true;
        }
        case ArgKind::Size: {
            const size_t x = v.text.find('x');
            long long w = 0, h = 0;
            if (x != std::string_view::npos && read_number(table, v.text.substr(0, x), w) &&
                read_number(table, v.text.substr(x + 1), h) && in_range(row, w) && in_range(row, h)) {
                v.w = static_cast<int>(w);
                v.h = static_cast<int>(h);
                return true;
            }
            break;
        }
        case ArgKind::Choice:
            for (size_t i = 0; i < row.choices.size(); ++i)
                if (v.text == row.choices[i]) {
                    v.number = static_cast<long long>(i);
                    return true;
                }
            break;
        default: return true;
    }
    error = refusal;
    return false;
}

const OptionRow* find_row(const OptionTable& table, std::string_view name) {
    for (const OptionRow& row : table.rows)
        if (name == row.name || (row.alias && name == row.alias)) return &row;
    return nullptr;
}

std::string label_of(const OptionRow& row) {
    std::string label = row.alias ? std::string(row.alias) + ", " + row.name : std::string(row.name);
    if (row.arg) label += std::string(" ") + row.arg;
    return label;
}

std::string padded(std::string s, size_t n) {
    if (s.size() < n) s.append(n - s.size(), ' ');
    return s;
}

}  // namespace

ParseResult parse_with_table(const OptionTable& table, int argc, const char* const* argv,
                             const PositionalArg& positional, std::string& error) {
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (options_done || arg == "-" || arg.size() < 2 || arg[0] != '-') {
            if (!positional(i, arg, error)) return {ParseStop::Error};
            continue;
        }
        if (table.double_dash && arg == "--") {
            options_done = true;
            continue;
        }
        std::string_view name = arg;
        std::optional<std::string_view> inline_value;
        if (table.inline_values && arg.substr(0, 2) == "--")
            if (const size_t eq = arg.find('='); eq != std::string_view::npos) {
                inline_value = arg.substr(eq + 1);
                name = arg.substr(0, eq);
            }
        const OptionRow* row = find_row(table, name);
        // An action is taken only as typed, without "=VALUE".
        if (!row || (row->kind == ArgKind::Action && inline_value)) {
            error = "unknown option '" + std::string(name) + "'" + table.unknown_hint;
            return {ParseStop::Error};
        }
        if (row->kind == ArgKind::Action) return {ParseStop::Action, row->action};

        OptionValue value;
        if (row->kind == ArgKind::None) {
            if (inline_value) {
                error = std::string(name) + " takes no value";
                return {ParseStop::Error};
            }
        } else if (inline_value) {
            value.text = *inline_value;
        } else if (i + 1 < argc) {
            value.text = argv[++i];
        } else {
            error = std::string(name) + " needs a value";
            return {ParseStop::Error};
        }
        if (!read_value(table, *row, name, value, error) || !row->store(value, error)) return {ParseStop::Error};
    }
    return {ParseStop::End};
}

std::string table_help(const OptionTable& table) {
    std::string s;
    const HelpGroup* group = nullptr;
    bool first = true;
    const std::vector<OptionRow>& rows = table.rows;
    for (size_t i = 0; i < rows.size(); ++i) {
        const OptionRow& row = rows[i];
        if (row.listed != Listed::Own) continue;
        static const HelpGroup kPlain;
        const HelpGroup& g = row.group ? *row.group : kPlain;
        if (first || row.group != group) {
            if (!first) s += "\n";
            if (g.heading) s += std::string(g.heading) + "\n";
            group = row.group;
            first = false;
        }
        std::string label = label_of(row);
        for (size_t j = i + 1; j < rows.size() && rows[j].listed == Listed::WithPrevious; ++j)
            label += ", " + label_of(rows[j]);
        label = label.size() < g.label_width ? padded(label, g.label_width) : label + "  ";
        const std::string indent(2 + g.label_width, ' ');
        size_t start = 0;
        for (bool first_line = true;; first_line = false) {
            const size_t end = row.help.find('\n', start);
            std::string text = row.help.substr(start, end == std::string::npos ? std::string::npos : end - start);
            if (first_line && !row.note.empty()) text = padded(text, g.note_at) + row.note;
            s += (first_line ? "  " + label : indent) + text + "\n";
            if (end == std::string::npos) break;
            start = end + 1;
        }
    }
    return s;
}

OptionStore set_flag(bool& flag) {
    return [&flag](const OptionValue&, std::string&) {
        flag = true;
        return true;
    };
}

OptionStore set_number(int& into) {
    return [&into](const OptionValue& v, std::string&) {
        into = static_cast<int>(v.number);
        return true;
    };
}

OptionStore set_number(long& into) {
    return [&into](const OptionValue& v, std::string&) {
        into = static_cast<long>(v.number);
        return true;
    };
}

OptionStore set_file_name(std::string& into, const char* option) {
    return [&into, option](const OptionValue& v, std::string& error) {
        if (v.text.empty()) {
            error = std::string(option) + " needs a file name";
            return false;
        }
        into = std::string(v.text);
        return true;
    };
}

}  // namespace pelta_cli
