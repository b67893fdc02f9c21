#include "tools/cli/CommandLine.h"

#include <getopt.h>

#include <cstdio>
#include <cstring>

namespace bq::cli {

namespace {

// getopt_long reports an option by this number plus its index in the table.
constexpr int kFirstIndex = 256;

const Option* Find(const Program& program, int id) {
    for (const Option& option : program.options) {
        if (option.id == id) {
            return &option;
        }
    }
    return nullptr;
}

// Only letters of the table reach here: getopt_long knows no others.
const Option* ByLetter(const Program& program, char letter) {
    for (const Option& option : program.options) {
        if (option.letter != 0 && option.letter == letter) {
            return &option;
        }
    }
    return nullptr;
}

std::string Label(const Option& option) {
    std::string label;
    if (option.letter != 0) {
        label = std::string("-") + option.letter + (option.name != nullptr ? ", " : "");
    }
    if (option.name != nullptr) {
        label += std::string("--") + option.name;
    }
    if (option.shown != nullptr) {
        label += std::string(" ") + option.shown;
    }
    return label;
}

// Each of bash's words for one kind: what `_filedir` offers.
const char* Completer(Complete complete) {
    switch (complete) {
        case Complete::Files:
            return "_filedir";
        case Complete::PcgFiles:
            return "_filedir pcg";
        case Complete::Nothing:
            break;
    }
    return "";
}

// Text for man(7): backslashes and hyphens escaped, and a line that would start with a
// control character kept as text.
std::string Roff(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\') {
            out += "\\e";
        } else if (c == '-') {
            out += "\\-";
        } else {
            out += c;
        }
    }
    if (!out.empty() && (out[0] == '.' || out[0] == '\'')) {
        out.insert(0, "\\&");
    }
    return out;
}

}  // namespace

bool Parse(const Program& program, int argc, const char* const* argv, Parsed* parsed) {
    *parsed = Parsed();
    // '+': no reordering, options end at the first operand; ':': a missing value is told
    // apart from an unknown option.
    std::string letters = "+:";
    std::vector<option> table;
    for (std::size_t i = 0; i < program.options.size(); ++i) {
        const Option& o = program.options[i];
        const int code = kFirstIndex + static_cast<int>(i);
        if (o.name != nullptr) {
            table.push_back(
                {o.name, o.takesValue ? required_argument : no_argument, nullptr, code});
        }
        if (o.letter != 0) {
            letters += o.letter;
            if (o.takesValue) {
                letters += ':';
            }
        }
    }
    table.push_back({nullptr, 0, nullptr, 0});
    // With '+' getopt_long moves nothing, so the arguments stay as they were given.
    auto* args = const_cast<char* const*>(argv);
    opterr = 0;
    optind = 0;  // glibc: start afresh, also after an earlier Parse
    for (;;) {
        const int at = optind == 0 ? 1 : optind;
        const int code = getopt_long(argc, args, letters.c_str(), table.data(), nullptr);
        if (code == -1) {
            break;
        }
        // The option as it was typed: the long form without "=value", or "-x" (getopt_long
        // names a wrong letter in optopt).
        const bool isLong = at < argc && std::strncmp(argv[at], "--", 2) == 0;
        const char letter = static_cast<char>(code == '?' || code == ':' ? optopt : code);
        const std::string typed =
            isLong ? std::string(argv[at]).substr(0, std::string(argv[at]).find('='))
                   : std::string("-") + letter;
        if (code == '?') {
            parsed->error = "unknown option " + (isLong ? std::string(argv[at]) : typed);
            return false;
        }
        if (code == ':') {
            // optopt names the option: its letter, or its code for the long form.
            const Option* o = optopt >= kFirstIndex
                                  ? &program.options[static_cast<std::size_t>(optopt - kFirstIndex)]
                                  : ByLetter(program, static_cast<char>(optopt));
            parsed->error = o != nullptr ? Needs(program, o->id, typed) : typed + " needs a value";
            return false;
        }
        const Option& o = code >= kFirstIndex
                              ? program.options[static_cast<std::size_t>(code - kFirstIndex)]
                              : *ByLetter(program, static_cast<char>(code));
        parsed->options.push_back({o.id, o.takesValue && optarg != nullptr ? optarg : "", typed});
    }
    for (int i = optind; i < argc; ++i) {
        parsed->operands.emplace_back(argv[i]);
    }
    return true;
}

std::string Needs(const Program& program, int id, const std::string& typed) {
    const Option* option = Find(program, id);
    return typed + " needs " +
           (option != nullptr && option->needs != nullptr ? option->needs : "a value");
}

std::string HelpText(const Program& program) {
    std::string text = std::string(program.usage) + program.intro;
    for (const Option& option : program.options) {
        if (option.help == nullptr) {
            continue;
        }
        const std::string label = "  " + Label(option);
        const std::string indent(static_cast<std::size_t>(program.column), ' ');
        // A label that leaves no two spaces before the column has a line of its own.
        text += static_cast<int>(label.size()) + 2 > program.column
                    ? label + "\n" + indent
                    : label + std::string(program.column - label.size(), ' ');
        for (const char* line = option.help; *line != '\0';) {
            const char* end = std::strchr(line, '\n');
            text.append(line, end != nullptr ? end : line + std::strlen(line));
            text += '\n';
            if (end == nullptr) {
                break;
            }
            line = end + 1;
            text += indent;
        }
    }
    return text + program.outro;
}

std::string BashCompletion(const Program& program) {
    std::string function = std::string("_") + program.name;
    for (char& c : function) {
        if (c == '-') {
            c = '_';
        }
    }
    std::string words;
    // The options that take a value, grouped by what is offered for it.
    std::string forms[3];
    for (const Option& o : program.options) {
        if (o.help != nullptr && o.name != nullptr) {
            words += (words.empty() ? "" : " ") + std::string("--") + o.name;
        }
        if (!o.takesValue) {
            continue;
        }
        std::string& group = forms[static_cast<int>(o.complete)];
        if (o.letter != 0) {
            group += (group.empty() ? "-" : "|-") + std::string(1, o.letter);
        }
        if (o.name != nullptr) {
            group += (group.empty() ? "--" : "|--") + std::string(o.name);
        }
    }
    std::string values;
    for (const Complete kind : {Complete::Files, Complete::PcgFiles, Complete::Nothing}) {
        const std::string& group = forms[static_cast<int>(kind)];
        if (!group.empty()) {
            values +=
                "        " + group + ")\n" +
                (kind == Complete::Nothing ? ""
                                           : "            " + std::string(Completer(kind)) + "\n") +
                "            return\n            ;;\n";
        }
    }
    std::string script = std::string("# bash completion for ") + program.name +
                         "; made by the build from the program's own options.\n" + function +
                         "() {\n" +
                         "    local cur prev words cword\n"
                         "    _init_completion || return\n";
    if (!values.empty()) {
        script += "    case $prev in\n" + values + "    esac\n";
    }
    script +=
        "    if [[ $cur == -* ]]; then\n"
        "        COMPREPLY=($(compgen -W '" +
        words +
        "' -- \"$cur\"))\n"
        "        return\n"
        "    fi\n";
    if (program.operands != Complete::Nothing) {
        script += std::string("    ") + Completer(program.operands) + "\n";
    }
    return script + "} &&\n    complete -F " + function + " " + program.name + "\n";
}

std::string ManualOptions(const Program& program) {
    std::string text;
    for (const Option& o : program.options) {
        if (o.help == nullptr || o.name == nullptr) {
            continue;
        }
        text += ".TP\n";
        if (o.letter != 0) {
            text += std::string("\\fB\\-") + o.letter + "\\fR, ";
        }
        text += "\\fB\\-\\-" + Roff(o.name) + "\\fR";
        if (o.shown != nullptr) {
            text += " \\fI" + Roff(o.shown) + "\\fR";
        }
        text += "\n";
        // The help's lines are filled again by man: one line of text.
        std::string help = o.help;
        for (char& c : help) {
            if (c == '\n') {
                c = ' ';
            }
        }
        std::string collapsed;
        for (const char c : help) {
            if (!(c == ' ' && !collapsed.empty() && collapsed.back() == ' ')) {
                collapsed += c;
            }
        }
        text += Roff(collapsed) + "\n";
    }
    return text;
}

bool PrintDocumentation(const Program& program, int argc, const char* const* argv) {
    if (argc != 2) {
        return false;
    }
    const std::string wanted = argv[1];
    if (wanted == "--bash-completion") {
        std::fputs(BashCompletion(program).c_str(), stdout);
    } else if (wanted == "--manual-options") {
        std::fputs(ManualOptions(program).c_str(), stdout);
    } else {
        return false;
    }
    return std::fflush(stdout) == 0;
}

}  // namespace bq::cli
