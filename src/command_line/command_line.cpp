#include "command_line/command_line.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <map>
#include <ostream>

#include "kvr_version.h"

namespace kvr {

namespace {

std::vector<std::string> SplitNames(const std::string& names) {
  std::vector<std::string> out;
  std::string name;
  for (const char c : names + ",") {
    if (c != ',') {
      name += c;
    } else if (!name.empty()) {
      out.push_back(name);
      name.clear();
    }
  }
  return out;
}

// "-x" or "--word": a word that stands for an option, not for a value. "-" (standard input) and
// negative numbers are values.
bool LooksLikeOption(const std::string& word) {
  if (word.size() < 2 || word[0] != '-') return false;
  const char next = word[1];
  return !(next >= '0' && next <= '9') && next != '.';
}

// The help as we write it: "-q, --quiet", the value's name after the option, nothing else.
class HelpFormatter : public CLI::Formatter {
 public:
  HelpFormatter(std::string synopsis, const std::map<const CLI::Option*, std::string>& valueNames)
      : synopsis_(std::move(synopsis)), valueNames_(valueNames) {
    column_width(32);
  }
  // The usage first, then what the program does.
  std::string make_usage(const CLI::App* app, std::string) const override {
    return "Usage: " + synopsis_ + "\n" + app->get_description() + "\n\n";
  }
  std::string make_description(const CLI::App*) const override { return {}; }
  std::string make_group(std::string group, bool,
                         std::vector<const CLI::Option*> options) const override {
    std::string out = group + ":\n";
    for (const CLI::Option* option : options) out += make_option(option, false);
    return out;
  }
  std::string make_option_name(const CLI::Option* option, bool) const override {
    std::string names = option->get_name(false, true);
    std::string out;
    for (const char c : names) out += c == ',' ? std::string(", ") : std::string(1, c);
    return out;
  }
  std::string make_option_opts(const CLI::Option* option) const override {
    const auto found = valueNames_.find(option);
    return found == valueNames_.end() || found->second.empty() ? std::string()
                                                               : " " + found->second;
  }

 private:
  std::string synopsis_;
  const std::map<const CLI::Option*, std::string>& valueNames_;
};

}  // namespace

struct CommandLine::State {
  struct Entry {
    std::vector<std::string> names;
    CLI::Option* option = nullptr;
    int count = 0;  // values; 0 for a switch
    std::string valueName;
    bool repeatable = false;
    bool takesOptions = false;
    TakeAll take;
    std::function<void()> set;
  };

  std::string program;
  std::string synopsis;
  CLI::App app;
  std::string group = "Options";
  std::vector<std::unique_ptr<Entry>> entries;
  std::map<std::string, Entry*> byName;
  std::map<const CLI::Option*, std::string> valueNames;
  std::vector<std::pair<std::string, std::string>> excluded;
  Verbosity* verbosity = nullptr;
  std::string quietHelp, verboseHelp;
  std::vector<std::string>* words = nullptr;
  std::vector<std::string> knownWords;
  bool finished = false;  // the general options are added
  bool help = false;
  bool version = false;
  std::vector<std::string> errors;

  State(std::string name, std::string description, std::string usage)
      : program(std::move(name)),
        synopsis(usage.empty() ? program + " [options]" : std::move(usage)),
        app(std::move(description), program) {
    app.set_help_flag();
    app.allow_extras();
    app.formatter(std::make_shared<HelpFormatter>(synopsis, valueNames));
  }

  Entry& Add(const std::string& names, const std::string& help, int count,
             const std::string& valueName) {
    auto entry = std::make_unique<Entry>();
    entry->names = SplitNames(names);
    entry->count = count;
    entry->valueName = valueName;
    entry->option = count == 0 ? app.add_flag(names, help)
                               : app.add_option(names, help)
                                     ->type_size(count)
                                     ->expected(1)
                                     ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    entry->option->group(group);
    valueNames[entry->option] = valueName;
    for (const std::string& name : entry->names) byName[name] = entry.get();
    entries.push_back(std::move(entry));
    return *entries.back();
  }

  Entry* Find(const std::string& name) const {
    const auto found = byName.find(name);
    return found == byName.end() ? nullptr : found->second;
  }

  // The options every program has, last in the help.
  void Finish() {
    if (finished) return;
    finished = true;
    group = "General";
    if (verbosity != nullptr) {
      Add("-q,--quiet", quietHelp, 0, {}).set = [this] { *verbosity = Verbosity::Quiet; };
      Add("-v,--verbose", verboseHelp, 0, {}).set = [this] { *verbosity = Verbosity::Verbose; };
      excluded.emplace_back("--quiet", "--verbose");
    }
    Add("-h,--help", "this text", 0, {}).set = [this] { help = true; };
    Add("-V,--version", "the program's version", 0, {}).set = [this] { version = true; };
  }

  // Checks that every option has its values and that none of them is an option, and hands a
  // value that is options of another program to the parser as "--opt=VALUE".
  std::vector<std::string> Prepare(const std::vector<std::string>& args) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < args.size(); ++i) {
      const std::string& word = args[i];
      if (word == "--") {
        out.insert(out.end(), args.begin() + static_cast<long>(i), args.end());
        break;
      }
      const Entry* entry = Find(word);
      if (entry == nullptr || entry->count == 0) {
        const auto equals = word.find('=');
        const Entry* named = word.rfind("--", 0) == 0 && equals != std::string::npos
                                 ? Find(word.substr(0, equals))
                                 : nullptr;
        if (named != nullptr && named->count == 0)
          errors.push_back(word.substr(0, equals) + " takes no value");
        else if (named != nullptr && named->count > 1)
          errors.push_back(word.substr(0, equals) + " wants " + named->valueName +
                           " as separate words");
        else
          out.push_back(word);
        continue;
      }
      const auto count = static_cast<std::size_t>(entry->count);
      if (i + count >= args.size()) {
        errors.push_back("option " + word + " needs " +
                         (count == 1 ? std::string("a value") : entry->valueName));
        break;
      }
      for (std::size_t k = 1; k <= count; ++k)
        if (LooksLikeOption(args[i + k]) && !entry->takesOptions)
          errors.push_back(word + " wants " + entry->valueName + ", not the option " + args[i + k]);
      if (entry->takesOptions) {
        out.push_back(word + "=" + args[i + 1]);
      } else {
        out.insert(out.end(), args.begin() + static_cast<long>(i),
                   args.begin() + static_cast<long>(i + count + 1));
      }
      i += count;
    }
    return out;
  }

  // Each option's values to its function, in the order they were given.
  void Take() {
    std::map<const CLI::Option*, std::size_t> seen;
    std::map<const CLI::Option*, Entry*> entryOf;
    for (const auto& entry : entries) entryOf[entry->option] = entry.get();
    for (const CLI::Option* option : app.parse_order()) {
      Entry* entry = entryOf[option];
      if (entry == nullptr) continue;
      // The parser lists an option once for each value it took.
      const std::size_t taken = seen[option]++;
      if (entry->count == 0) {
        if (taken == 0 && entry->set) entry->set();
        continue;
      }
      const auto count = static_cast<std::size_t>(entry->count);
      if ((taken + 1) % count != 0) continue;
      const std::size_t occurrence = taken / count;
      const std::vector<std::string>& results = option->results();
      const std::size_t given = results.size() / count;
      // Given twice, the last one counts: taken at the last time it appears.
      if (!entry->repeatable && occurrence + 1 != given) continue;
      if (results.size() < (occurrence + 1) * count) continue;
      const std::vector<std::string> values(
          results.begin() + static_cast<long>(occurrence * count),
          results.begin() + static_cast<long>((occurrence + 1) * count));
      if (std::string error = entry->take(values); !error.empty())
        errors.push_back(std::move(error));
    }
  }
};

CommandLine::CommandLine(std::string program, std::string description, std::string synopsis)
    : state_(std::make_unique<State>(std::move(program), std::move(description),
                                     std::move(synopsis))) {}

CommandLine::~CommandLine() = default;
CommandLine::CommandLine(CommandLine&&) noexcept = default;
CommandLine& CommandLine::operator=(CommandLine&&) noexcept = default;

void CommandLine::Group(std::string heading) {
  state_->group = std::move(heading);
}

void CommandLine::Footer(std::string text) {
  state_->app.footer(std::move(text));
}

void CommandLine::Flag(const std::string& names, const std::string& help,
                       std::function<void()> set) {
  state_->Add(names, help, 0, {}).set = std::move(set);
}

void CommandLine::Flag(const std::string& names, const std::string& help, bool& into) {
  Flag(names, help, [&into] { into = true; });
}

void CommandLine::Option(const std::string& names, const std::string& valueName,
                         const std::string& help, Take take) {
  state_->Add(names, help, 1, valueName).take =
      [take = std::move(take)](const std::vector<std::string>& values) {
        return take(values.front());
      };
}

void CommandLine::Option(const std::string& names, const std::string& valueName,
                         const std::string& help, std::string& into) {
  Option(names, valueName, help, [&into](const std::string& value) {
    into = value;
    return std::string();
  });
}

void CommandLine::Option(const std::string& names, int count, const std::string& valueName,
                         const std::string& help, TakeAll take) {
  state_->Add(names, help, count, valueName).take = std::move(take);
}

void CommandLine::Repeatable(const std::string& name) {
  state_->Find(name)->repeatable = true;
}

void CommandLine::TakesOptions(const std::string& name) {
  state_->Find(name)->takesOptions = true;
}

void CommandLine::Excludes(const std::string& name, const std::string& other) {
  state_->excluded.emplace_back(name, other);
}

void CommandLine::VerbosityOptions(Verbosity& into, const std::string& quietHelp,
                                   const std::string& verboseHelp) {
  state_->verbosity = &into;
  state_->quietHelp = quietHelp;
  state_->verboseHelp = verboseHelp;
}

void CommandLine::Words(std::vector<std::string>& into, std::vector<std::string> known) {
  state_->words = &into;
  state_->knownWords = std::move(known);
}

CommandLine::Result CommandLine::Parse(const std::vector<std::string>& args) {
  State& s = *state_;
  s.Finish();
  std::vector<std::string> words = s.Prepare(args);
  std::reverse(words.begin(), words.end());
  try {
    s.app.parse(words);
  } catch (const CLI::ParseError& error) {
    s.errors.push_back(error.what());
  }
  s.Take();
  bool afterDashes = false;
  for (const std::string& word : s.app.remaining()) {
    if (word == "--" && !afterDashes) {
      afterDashes = true;
    } else if (s.words != nullptr && (afterDashes || !LooksLikeOption(word))) {
      s.words->push_back(word);
    } else {
      s.errors.push_back("unknown option \"" + word + "\" (see --help)");
    }
  }
  for (const auto& [name, other] : s.excluded)
    if (Given(name) && Given(other))
      s.errors.push_back(name + " and " + other + " exclude each other");
  if (s.version) return Result::Version;
  if (s.help) return Result::Help;
  return s.errors.empty() ? Result::Run : Result::Bad;
}

bool CommandLine::Given(const std::string& name) const {
  const State::Entry* entry = state_->Find(name);
  return entry != nullptr && entry->option->count() > 0;
}

std::vector<std::string>& CommandLine::Errors() {
  return state_->errors;
}

std::string CommandLine::Help() const {
  state_->Finish();
  return state_->app.help();
}

std::vector<std::string> CommandLine::Names() const {
  state_->Finish();
  std::vector<std::string> names;
  for (const auto& entry : state_->entries)
    names.insert(names.end(), entry->names.begin(), entry->names.end());
  return names;
}

std::string CommandLine::BashCompletion() const {
  state_->Finish();
  const State& s = *state_;
  std::string function = "_" + s.program;
  std::replace(function.begin(), function.end(), '-', '_');
  std::string names;
  // The values each option takes, grouped by how they are completed.
  std::map<std::string, std::vector<std::string>> byCompletion;
  for (const auto& entry : s.entries) {
    for (const std::string& name : entry->names) names += (names.empty() ? "" : " ") + name;
    if (entry->count == 0) continue;
    const std::string& value = entry->valueName;
    std::string completion;
    if (value == "COMn|PATH") {
      completion =
          "COMPREPLY=($(compgen -W 'COM1 COM2 COM3 COM4 COM5 COM6 COM7 COM8' -- \"$cur\"))\n"
          "      _filedir";
    } else if (value.find('|') != std::string::npos) {
      std::string choices;
      for (const char c : value) choices += c == '|' ? ' ' : c;
      completion = "COMPREPLY=($(compgen -W '" + choices + "' -- \"$cur\"))";
    } else if (value == "FILE" || value == "PATH" || value.find(" FILE") != std::string::npos) {
      completion = "_filedir";
    } else if (value == "DIR") {
      completion = "_filedir -d";
    }
    std::string alternatives;
    for (const std::string& name : entry->names)
      alternatives += (alternatives.empty() ? "" : "|") + name;
    byCompletion[completion].push_back(alternatives);
  }
  std::string cases;
  for (const auto& [completion, options] : byCompletion) {
    std::string pattern;
    for (const std::string& option : options) pattern += (pattern.empty() ? "" : "|") + option;
    cases += "    " + pattern + ")\n      " + (completion.empty() ? std::string(":") : completion) +
             "\n      return\n      ;;\n";
  }
  std::string known;
  for (const std::string& word : s.knownWords) known += (known.empty() ? "" : " ") + word;
  const std::string words =
      s.words == nullptr ? ""
                         : "  COMPREPLY=($(compgen -W '" + known + "' -- \"$cur\"))\n  _filedir\n";
  return "# bash completion of " + s.program + ", made from its options\n" + function +
         "() {\n"
         "  local cur prev words cword split\n"
         "  _init_completion -s || return\n"
         "  case $prev in\n" +
         cases +
         "  esac\n"
         "  $split && return\n"
         "  if [[ $cur == -* ]]; then\n"
         "    COMPREPLY=($(compgen -W '" +
         names +
         "' -- \"$cur\"))\n"
         "    return\n"
         "  fi\n" +
         words + "}\ncomplete -F " + function + " " + s.program + "\n";
}

int CommandLine::Report(Result result, std::ostream& out, std::ostream& err) const {
  switch (result) {
    case Result::Help:
      out << Help();
      return 0;
    case Result::Version:
      out << state_->program << ' ' << kVersion << '\n';
      return 0;
    case Result::Bad:
      for (const std::string& error : state_->errors)
        err << state_->program << ": " << error << '\n';
      return 2;
    case Result::Run:
      break;
  }
  return 0;
}

}  // namespace kvr
