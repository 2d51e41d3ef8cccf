// What the README and the man pages show: every example's command line is taken by its program,
// every page renders without a warning and has its sections and the program's options, and the
// completions complete.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/production_job.h"
#include "app/start_options.h"
#include "cli/cli_options.h"
#include "gang/gang_options.h"
#include "isp_cli/isp_options.h"
#include "line_cli/line_options.h"
#include "simulator/writer_sim_options.h"

namespace kvr {
namespace {

using Args = std::vector<std::string>;

const Args kPrograms = {"kvr-station", "kvr-cli", "kvr-gang", "kvr-isp", "kvr-writer-sim",
#ifdef KVR_HAS_LINE
                        "kvr-line"
#endif
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs `command` with sh; its standard output and error.
std::string Output(const std::string& command) {
  std::string out;
  if (FILE* pipe = ::popen((command + " 2>&1").c_str(), "r")) {
    std::array<char, 4096> buffer{};
    for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;)
      out.append(buffer.data(), n);
    ::pclose(pipe);
  }
  return out;
}

// The program's command line: the errors when `args` are refused, or nothing. Each program's
// options are built as it builds them.
std::vector<std::string> Refusals(const std::string& program, const Args& args) {
  CommandLine::Result result{};
  std::vector<std::string> errors;
  auto keep = [&](CommandLine& line) { errors = line.Errors(); };
  if (program == "kvr-cli") {
    CliOptions options;
    CommandLine line = CliCommandLine(options);
    result = ParseCliOptions(line, args, options);
    keep(line);
  } else if (program == "kvr-gang") {
    gang::GangOptions options;
    CommandLine line = gang::GangCommandLine(options);
    result = gang::ParseGangOptions(line, args, options);
    keep(line);
  } else if (program == "kvr-isp") {
    IspOptions options;
    CommandLine line = IspCommandLine(options);
    result = ParseIspOptions(line, args, options);
    keep(line);
  } else if (program == "kvr-writer-sim") {
    sim::WriterSimOptions options;
    CommandLine line = sim::WriterSimCommandLine(options);
    result = line.Parse(args);
    keep(line);
  } else if (program == "kvr-line") {
    LineOptions options;
    CommandLine line = LineCommandLine(options);
    result = ParseLineOptions(line, args, options);
    keep(line);
  } else {
    StartOptions options;
    CommandLine line = StartCommandLine(Program::Window);
    AddStartOptions(line, options, Program::Window);
    result = line.Parse(args);
    keep(line);
  }
  if (result == CommandLine::Result::Run) return {};
  return errors.empty() ? Args{"not a run"} : errors;
}

CommandLine ProgramLine(const std::string& program) {
  static CliOptions cli;
  static gang::GangOptions gang;
  static IspOptions isp;
  static sim::WriterSimOptions sim;
  static StartOptions window;
  if (program == "kvr-cli") return CliCommandLine(cli);
  if (program == "kvr-gang") return gang::GangCommandLine(gang);
  if (program == "kvr-isp") return IspCommandLine(isp);
  if (program == "kvr-writer-sim") return sim::WriterSimCommandLine(sim);
  static LineOptions lineOptions;
  if (program == "kvr-line") return LineCommandLine(lineOptions);
  CommandLine line = StartCommandLine(Program::Window);
  AddStartOptions(line, window, Program::Window);
  return line;
}

// Words as the shell splits them: quotes, a backslash at the end of a line, a comment, a
// trailing "&".
Args ShellWords(const std::string& line) {
  Args words;
  std::string word;
  bool inWord = false;
  char quote = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quote != 0) {
      if (c == quote)
        quote = 0;
      else
        word += c;
    } else if (c == '"' || c == '\'') {
      quote = c;
      inWord = true;
    } else if (c == ' ' || c == '\t') {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else if (c == '#' && !inWord) {
      break;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  if (!words.empty() && words.back() == "&") words.pop_back();
  return words;
}

// The command lines of our programs among `lines`, continuation lines joined; synopses (with
// "[" or "|" words) are no examples.
std::vector<Args> Examples(const std::vector<std::string>& lines) {
  std::vector<Args> examples;
  std::string joined;
  for (const std::string& line : lines) {
    if (!line.empty() && line.back() == '\\') {
      joined += line.substr(0, line.size() - 1) + " ";
      continue;
    }
    Args words = ShellWords(joined + line);
    joined.clear();
    if (words.empty()) continue;
    const std::string program = words[0].substr(words[0].rfind('/') + 1);
    if (std::find(kPrograms.begin(), kPrograms.end(), program) == kPrograms.end()) continue;
    const bool synopsis = std::any_of(words.begin(), words.end(), [](const std::string& w) {
      return w.rfind('[', 0) == 0 || w == "|";
    });
    if (synopsis) continue;
    words[0] = program;
    examples.push_back(words);
  }
  return examples;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The man page's source as the reader sees its words: "\-" a dash, "\e" a backslash.
std::string Unescaped(std::string text) {
  text = std::regex_replace(text, std::regex(R"(\\-)"), "-");
  return std::regex_replace(text, std::regex(R"(\\e)"), "\\");
}

// The lines of a Markdown page's code blocks.
std::vector<std::string> CodeLines(const std::string& page) {
  std::vector<std::string> code;
  bool inBlock = false;
  for (const std::string& line : Lines(ReadFile(std::string(KVR_SOURCE_DIR "/") + page))) {
    if (line.rfind("```", 0) == 0)
      inBlock = !inBlock;
    else if (inBlock)
      code.push_back(line);
  }
  return code;
}

std::vector<Args> ReadmeExamples() {
  std::vector<std::string> code = CodeLines("README.md");
  for (std::string& line : CodeLines("docs/job_file.md")) code.push_back(std::move(line));
  return Examples(code);
}

std::string ManPage(const std::string& program) {
  return ReadFile(std::string(KVR_MAN_DIR) + "/" + program + ".1");
}

std::vector<Args> ManExamples(const std::string& program) {
  std::vector<std::string> code;
  bool inBlock = false;
  for (const std::string& line : Lines(Unescaped(ManPage(program)))) {
    if (line == ".EX" || line == ".EE")
      inBlock = line == ".EX";
    else if (inBlock)
      code.push_back(line);
  }
  return Examples(code);
}

std::string Joined(const Args& args) {
  std::string text;
  for (const std::string& arg : args) text += (text.empty() ? "" : " ") + arg;
  return text;
}

TEST(Documentation, EveryExampleIsTakenByItsProgram) {
  std::map<std::string, int> seen;
  std::vector<Args> examples = ReadmeExamples();
  for (const std::string& program : kPrograms)
    for (Args& example : ManExamples(program)) examples.push_back(std::move(example));
  for (const Args& example : examples) {
    ++seen[example[0]];
    const Args errors = Refusals(example[0], Args(example.begin() + 1, example.end()));
    EXPECT_TRUE(errors.empty()) << Joined(example) << "\n  " << errors[0];
  }
  // Each program has examples of its own, and the README shows the production line.
  for (const std::string& program : kPrograms) EXPECT_GE(seen[program], 2) << program;
  EXPECT_GE(seen["kvr-cli"], 12);
}

// The job file's example is a job, written exactly as the station writes it.
TEST(Documentation, TheJobFileExampleIsWhatTheStationWrites) {
  const std::string page = ReadFile(KVR_SOURCE_DIR "/docs/job_file.md");
  const auto from = page.find("```json\n");
  ASSERT_NE(from, std::string::npos);
  const auto to = page.find("```\n", from + 8);
  const std::string example = page.substr(from + 8, to - from - 8);
  std::string error;
  const std::optional<ProductionJob> job = ParseJob(example, true, error);
  ASSERT_TRUE(job) << error;
  EXPECT_EQ(JobText(*job, true, error), example);
}

TEST(Documentation, ManPagesRenderCleanlyWithTheirSectionsAndTheProgramsOptions) {
  const std::regex optionWord(R"(--[a-z][a-z0-9-]*[a-z0-9])");
  for (const std::string& program : kPrograms) {
    const std::string path = std::string(KVR_MAN_DIR) + "/" + program + ".1";
    EXPECT_EQ(Output("groff -man -Tutf8 -ww -z '" + path + "'"), "") << program;
    const std::string page = Unescaped(ManPage(program));
    for (const char* section : {"NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "EXIT STATUS",
                                "FILES", "ENVIRONMENT", "EXAMPLES", "SEE ALSO"})
      EXPECT_NE(page.find(std::string("\n.SH ") + section + "\n"), std::string::npos)
          << program << ": " << section;
    const CommandLine line = ProgramLine(program);
    const Args names = line.Names();
    for (const std::string& name : names)
      EXPECT_TRUE(std::regex_search(page, std::regex("\\B" + name + "\\b(?!-)")))
          << program << " " << name;
    // And no option the program lacks.
    const auto start = page.find("\n.SH OPTIONS");
    const std::string options = page.substr(start, page.find("\n.SH ", start + 1) - start);
    for (std::sregex_iterator it(options.begin(), options.end(), optionWord), end; it != end; ++it)
      EXPECT_TRUE(std::find(names.begin(), names.end(), it->str()) != names.end())
          << program << " " << it->str();
  }
}

TEST(Documentation, CompletionsCompleteOptionsAndTheirValues) {
  const std::string loader = "/usr/share/bash-completion/bash_completion";
  if (ReadFile(loader).empty()) GTEST_SKIP() << "bash-completion is not installed";
  // The words of COMPREPLY after completing `line` with the program's completion.
  auto complete = [&](const std::string& program, const std::string& line) {
    const std::string script =
        "source " + loader + "; source " KVR_COMPLETIONS_DIR "/" + program + "; COMP_LINE='" +
        line +
        "'; COMP_POINT=${#COMP_LINE}; read -ra COMP_WORDS <<< \"$COMP_LINE\"; "
        "[[ $COMP_LINE == *' ' ]] && COMP_WORDS+=(''); COMP_CWORD=$((${#COMP_WORDS[@]}-1)); "
        "_" +
        std::regex_replace(program, std::regex("-"), "_") +
        "; printf '%s\\n' \"${COMPREPLY[@]}\" | sort";
    return Output("bash -c '" + std::regex_replace(script, std::regex("'"), "'\\''") + "'");
  };
  EXPECT_EQ(complete("kvr-cli", "kvr-cli --rep"), "--repeat\n--report\n--report-format\n");
  EXPECT_EQ(complete("kvr-cli", "kvr-cli --fill "), "00\nFF\n");
  EXPECT_EQ(complete("kvr-cli", "kvr-cli --port CO"),
            "COM1\nCOM2\nCOM3\nCOM4\nCOM5\nCOM6\nCOM7\nCOM8\n");
  EXPECT_EQ(complete("kvr-gang", "kvr-gang --report-format "), "csv\njsonl\n");
  EXPECT_EQ(complete("kvr-isp", "kvr-isp --port COM1 --baud 9600 ver"), "verify\n");
  EXPECT_EQ(complete("kvr-writer-sim", "kvr-writer-sim --board-w"), "--board-weak-cell\n");
  EXPECT_EQ(complete("kvr-station", "kvr-station -"),
            "--help\n--job\n--language\n--line\n--line-db\n--locked\n--port-map\n--settings\n"
            "--sim-chip\n--simulate\n--verbose\n--version\n-V\n-h\n-v\n");
}

}  // namespace
}  // namespace kvr
