// A command's options as one table: each row names an option, its argument,
// how the argument is read and checked, where its value goes and what the
// help says of it. The parser and the help are both made from the table, so
// an option is listed as it is accepted, with the range it is checked
// against.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace pelta_cli {

// How a row reads its argument.
enum class ArgKind {
    None,     // a switch without an argument
    Action,   // no argument; parsing stops there (--help, --version)
    Number,   // a whole number from lo to hi
    Control,  // a filter control: a whole number from lo to hi, with "is out of range" beyond them
    Size,     // WxH, each side a whole number from lo to hi
    Choice,   // one of the words in `choices`
    Text,     // any text; the row's store judges it
};

// The argument as read.
struct OptionValue {
    std::string_view text;
    long long number = 0;  // Number, Control; Choice: the index of the word
    int w = 0, h = 0;      // Size
};

// Keeps a value where it belongs; false with `error` set refuses it.
using OptionStore = std::function<bool(const OptionValue& value, std::string& error)>;

// A group of rows in the help: its heading line and its columns.
struct HelpGroup {
    const char* heading = nullptr;  // null: none
    size_t label_width = 17;        // the help text starts this far after the two-space indent
    size_t note_at = 0;             // where a row's note starts within the text
};

// Where a row appears in the help.
enum class Listed { Own, WithPrevious, No };

struct OptionRow {
    const char* name;              // "--left"
    const char* alias = nullptr;   // another spelling, listed before the name ("-h")
    const char* arg = nullptr;     // the argument as the help shows it: "N", "0|1", "WxH", "FILE"
    ArgKind kind = ArgKind::None;
    long long lo = 0, hi = 0;      // Number, Control, Size
    std::vector<const char*> choices{};  // Choice
    // What a refusal says the option takes, in place of "a number from LO to
    // HI", "the frame size as WxH" or the list of choices.
    std::string expects{};
    OptionStore store{};           // not for an Action
    int action = 0;                // Action: what the parse answers
    const HelpGroup* group = nullptr;
    std::string help{};            // lines separated by '\n'
    std::string note{};            // after the help, at the group's note_at (a range, a default)
    Listed listed = Listed::Own;   // WithPrevious: its label joins the row before's, which has the help
};

struct OptionTable {
    std::vector<OptionRow> rows;
    bool inline_values = true;   // "--name=VALUE" as well as "--name VALUE"
    bool double_dash = true;     // "--" ends the options
    bool digits_only = false;    // numbers are plain digits; otherwise as strtoll reads them, with a sign
    std::string unknown_hint;    // follows "unknown option 'X'"
};

enum class ParseStop { End, Action, Error };

struct ParseResult {
    ParseStop stop = ParseStop::End;
    int action = 0;  // ParseStop::Action: the row's
};

// Takes an argument that is not an option, with where it stands in argv;
// false with `error` set refuses it.
using PositionalArg = std::function<bool(int index, std::string_view arg, std::string& error)>;

// Reads argv[1..argc) by the table: each option's value checked and stored
// by its row, the other arguments handed to `positional` in order. Stops at
// the first refusal, with `error` one line naming it, or at an Action row.
ParseResult parse_with_table(const OptionTable& table, int argc, const char* const* argv,
                             const PositionalArg& positional, std::string& error);

// The table's rows as help lines, group by group: a blank line between
// groups, each group's heading, then "  LABEL  HELP  NOTE" per row.
std::string table_help(const OptionTable& table);

// Stores for the common rows.
OptionStore set_flag(bool& flag);
OptionStore set_number(int& into);
OptionStore set_number(long& into);
// Text that must not be empty: "OPTION needs a file name".
OptionStore set_file_name(std::string& into, const char* option);

}  // namespace pelta_cli
