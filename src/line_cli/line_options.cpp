#include "line_cli/line_options.h"

#include <algorithm>

#include "platform/line_database.h"

namespace kvr {

namespace {

constexpr const char* kCommands[] = {"init", "status", "records", "serial"};

// The options each command takes beyond --line.
struct Belongs {
  const char* option;
  const char* command;
};
constexpr Belongs kBelongs[] = {
    {"--next", "init"},    {"--step", "init"},     {"--mode", "init"},      {"--bytes", "init"},
    {"--address", "init"}, {"--since", "records"}, {"--format", "records"},
};

CommandLine::Take Keep(std::optional<std::string>& into) {
  return [&into](const std::string& text) {
    into = text;
    return std::string();
  };
}

bool AllOf(const std::string& text, const char* allowed) {
  return !text.empty() && text.find_first_not_of(allowed) == std::string::npos;
}

// The URL, the command and its number out of the words; what is wrong, or nothing.
std::string TakeCommand(LineOptions& o, const CommandLine& line) {
  if (o.words.empty()) return "name the line database: kvr-line URL COMMAND";
  o.url = o.words[0];
  if (const std::string problem = LineUrlProblem(o.url); !problem.empty()) return problem;
  if (o.words.size() < 2) return "no command given: init, status, records or serial N";
  o.command = o.words[1];
  if (std::find(std::begin(kCommands), std::end(kCommands), o.command) == std::end(kCommands))
    return "unknown command '" + o.command + "': init, status, records or serial N";
  std::size_t next = 2;
  if (o.command == "serial") {
    if (next >= o.words.size()) return "serial needs the number N";
    o.serial = o.words[next++];
    if (!AllOf(o.serial, "0123456789"))
      return "serial wants a decimal number, not \"" + o.serial + "\"";
  }
  if (next < o.words.size()) return "unexpected '" + o.words[next] + "'";
  for (const Belongs& belongs : kBelongs)
    if (line.Given(belongs.option) && o.command != belongs.command)
      return std::string(belongs.option) + " belongs to " + belongs.command;
  return "";
}

}  // namespace

CommandLine LineCommandLine(LineOptions& options) {
  LineOptions& o = options;
  CommandLine line(
      "kvr-line",
      "The line database of a production line: its serial numbering, good count and the\n"
      "chips' records, shared by the stations of every PC of the line.",
      "kvr-line URL init|status|records|serial N [options]");
  line.Group("Every command");
  line.Option("--line", "NAME", "the line (default: every line; init: \"default\")",
              [&o](const std::string& name) {
                if (name.empty()) return std::string("--line wants the name of a line");
                o.line = name;
                return std::string();
              });
  line.Group("init: the line's serial numbering");
  line.Option("--next", "N", "the number the next chip gets, decimal",
              [&o](const std::string& text) {
                if (!AllOf(text, "0123456789"))
                  return "--next wants decimal digits, not \"" + text + "\"";
                o.next = text;
                return std::string();
              });
  line.Option("--step", "N", "the step from one chip's number to the next (1 or more)",
              [&o](const std::string& text) {
                if (!AllOf(text, "0123456789") || text.find_first_not_of('0') == std::string::npos)
                  return "--step wants a whole number of 1 or more, not \"" + text + "\"";
                o.step = text;
                return std::string();
              });
  line.Option("--mode", "hex|dec|ascii", "how the number is stored in the chip",
              [&o](const std::string& text) {
                const char* modes[] = {"hex", "dec", "ascii"};
                for (int i = 0; i < 3; ++i)
                  if (text == modes[i]) {
                    o.mode = i;
                    return std::string();
                  }
                return "--mode wants hex, dec or ascii, not \"" + text + "\"";
              });
  line.Option("--bytes", "N", "its length in bytes", [&o](const std::string& text) {
    if (!AllOf(text, "0123456789") || text.size() > 2 || std::stoi(text) < 1)
      return "--bytes wants a number of bytes from 1, not \"" + text + "\"";
    o.bytes = text;
    return std::string();
  });
  line.Option("--address", "HEX", "its highest address", [&o](const std::string& text) {
    if (!AllOf(text, "0123456789ABCDEFabcdef") || text.size() > 5)
      return "--address wants up to 5 hexadecimal digits, not \"" + text + "\"";
    o.address = text;
    return std::string();
  });
  line.Group("records");
  line.Option("--since", "TIME",
              "only the records from TIME on: 2026-01-05, 2026-01-05T09:00,\n"
              "2026-01-05T09:00:00+01:00 (without an offset: local time)",
              Keep(o.since));
  line.Option("--format", "csv|jsonl", "the records as the production report writes them (csv)",
              [&o](const std::string& text) {
                if (text != "csv" && text != "jsonl")
                  return "--format wants csv or jsonl, not \"" + text + "\"";
                o.format = text == "jsonl" ? 1 : 0;
                return std::string();
              });
  line.Words(o.words, {std::begin(kCommands), std::end(kCommands)});
  line.Footer(
      "Commands:\n"
      "  init       make the schema where there is none; with --next, --step, --mode,\n"
      "             --bytes or --address, set the line's numbering\n"
      "  status     per line: the next number, good and failed chips, the stations seen\n"
      "             and the last record\n"
      "  records    the chips' records, with the production report's fields and the line\n"
      "  serial N   which chip got number N: time, station, port, identity, image CRC,\n"
      "             result\n"
      "URL: sqlite:PATH or postgresql://user@host:port/dbname; the password in PGPASSWORD or\n"
      "~/.pgpass, never in the URL.\n"
      "Exit status: 0 done; 1 the database could not be used, or no chip got N; 2 bad\n"
      "options.");
  return line;
}

CommandLine::Result ParseLineOptions(CommandLine& line, const std::vector<std::string>& args,
                                     LineOptions& options) {
  CommandLine::Result result = line.Parse(args);
  if (result == CommandLine::Result::Run)
    if (std::string wrong = TakeCommand(options, line); !wrong.empty()) {
      line.Errors().push_back(std::move(wrong));
      result = CommandLine::Result::Bad;
    }
  return result;
}

}  // namespace kvr
