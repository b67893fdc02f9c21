#pragma once

// One description of a command-line program's options, from which its --help text, its
// parsing (getopt_long) and its bash completion and manual page options are all made, so that
// they never disagree. A program keeps one table; an option is one line of it.

#include <string>
#include <vector>

namespace bq::cli {

// What the shell offers to complete an option's value, or the operands.
enum class Complete { Nothing, Files, PcgFiles };

struct Option {
    int id;            // the program's own number for it, as Parse reports it
    const char* name;  // the long form without its dashes: "output"
    char letter;       // the short form, 0 for none
    bool takesValue;   // the next argument (or "=value") is its value
    // The help's words after the option: its value ("FILE"), or what follows it ("A B").
    const char* shown;
    // The help text's lines, '\n' between them; nullptr leaves the option out of the help.
    const char* help;
    // "--timeout needs ..." when the value is missing or wrong; nullptr: "a value".
    const char* needs = nullptr;
    Complete complete = Complete::Nothing;
};

struct Program {
    const char* name;   // "bankquill-backup"
    const char* usage;  // the usage lines, also printed with wrong arguments
    const char* intro;  // between the usage and the options
    int column;         // where the options' help begins
    std::vector<Option> options;
    const char* outro;  // after the options
    Complete operands;  // what the arguments after the options are
};

// One option as given.
struct Given {
    int id;
    std::string value;  // empty for a switch
    std::string typed;  // "-o", "--output": for the texts about it
};

struct Parsed {
    std::vector<Given> options;         // in the order given
    std::vector<std::string> operands;  // from the first non-option on
    std::string error;                  // "unknown option --x", "--pcg needs a file"
};

// Options come before the operands: the first argument that is not one (or "--") ends them.
// False with parsed->error for an unknown option or a missing value.
bool Parse(const Program& program, int argc, const char* const* argv, Parsed* parsed);

// "--timeout needs a number ..." for the option as it was typed.
std::string Needs(const Program& program, int id, const std::string& typed);

// The whole --help text: usage, intro, options, outro.
std::string HelpText(const Program& program);

// A bash completion script for the program.
std::string BashCompletion(const Program& program);

// The options as the lines of a manual page's OPTIONS section (man(7) macros).
std::string ManualOptions(const Program& program);

// For the build, which writes each program's completion and manual page from the program
// itself: "--bash-completion" or "--manual-options" as the only argument prints that and
// returns true. Not shown in the help.
bool PrintDocumentation(const Program& program, int argc, const char* const* argv);

}  // namespace bq::cli
