#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace kvr {

// How much a program tells besides its results: -q only the verdict and errors, -v also a line
// per exchange with the writer (or the chip) on standard error.
enum class Verbosity { Quiet, Normal, Verbose };

// One program's command line, as all our programs take theirs: long options with "--opt VALUE"
// or "--opt=VALUE", -h/--help, -V/--version, the options in groups in the help, and a bad
// command line refused with exit status 2 and a message that names what is wrong. An option's
// value never is another option: "--port --no-program" is refused, not taken as a device path.
//
// The options only say which words belong together; what a value means, and whether it is
// sound, is up to the function each option is given (it answers what is wrong, or nothing).
class CommandLine {
 public:
  using Take = std::function<std::string(const std::string&)>;
  using TakeAll = std::function<std::string(const std::vector<std::string>&)>;

  // `synopsis` follows "Usage: " in the help; without it, "PROGRAM [options]".
  CommandLine(std::string program, std::string description, std::string synopsis = {});
  ~CommandLine();
  CommandLine(CommandLine&&) noexcept;
  CommandLine& operator=(CommandLine&&) noexcept;

  // The options added after this stand under `heading` in the help.
  void Group(std::string heading);
  // Text after the options in the help.
  void Footer(std::string text);

  // A switch (names such as "--view" or "-q,--quiet"); `set` runs when it is given.
  void Flag(const std::string& names, const std::string& help, std::function<void()> set);
  void Flag(const std::string& names, const std::string& help, bool& into);
  // An option with one value; given twice, the last one counts.
  void Option(const std::string& names, const std::string& valueName, const std::string& help,
              Take take);
  void Option(const std::string& names, const std::string& valueName, const std::string& help,
              std::string& into);
  // An option with `count` values, taken together.
  void Option(const std::string& names, int count, const std::string& valueName,
              const std::string& help, TakeAll take);
  // Given again, `take` runs for each one.
  void Repeatable(const std::string& name);
  // The value is options of another program (e.g. "--wire-time"): taken as it stands.
  void TakesOptions(const std::string& name);
  // Refused together, the message naming both.
  void Excludes(const std::string& name, const std::string& other);
  // -q/--quiet and -v/--verbose.
  void VerbosityOptions(Verbosity& into, const std::string& quietHelp,
                        const std::string& verboseHelp);
  // Words that are no options (commands, files); without this, each one is refused. `known`
  // are the commands among them, for the completion.
  void Words(std::vector<std::string>& into, std::vector<std::string> known = {});

  enum class Result { Run, Help, Version, Bad };
  Result Parse(const std::vector<std::string>& args);
  bool Given(const std::string& name) const;
  // What is wrong, one message each, after Parse; a caller may add its own.
  std::vector<std::string>& Errors();

  std::string Help() const;
  // Every option's names, as given ("-q", "--quiet", ...).
  std::vector<std::string> Names() const;
  // A bash completion of the program: its options, and the values of those whose value is a
  // choice ("csv|jsonl"), a port or a file.
  std::string BashCompletion() const;
  // After Parse: the help or the version on `out`, or the errors on `err` ("PROGRAM: ...");
  // the exit status that goes with it (0 or 2).
  int Report(Result result, std::ostream& out, std::ostream& err) const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace kvr
