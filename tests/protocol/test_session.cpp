// Whole protocol sessions replayed through the built pbrain-orvel binary:
// standard input from a file, standard output captured, replies checked line
// by line, and the exit status checked. Thinks are ended by the commands that
// follow them (every position command waits for the think), so the order of
// the lines is fixed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

struct Session {
  bool exited = false;  // ended by itself (not killed by a signal or by us)
  int status = -1;      // exit status when exited
  Lines lines;
};

Session run_engine(const std::string& input) {
  Session result;
  std::FILE* in = std::tmpfile();
  std::FILE* out = std::tmpfile();
  if (in == nullptr || out == nullptr) {
    ADD_FAILURE() << "tmpfile failed";
    return result;
  }
  std::fwrite(input.data(), 1, input.size(), in);
  std::fflush(in);
  std::rewind(in);

  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fileno(in), STDIN_FILENO);
    dup2(fileno(out), STDOUT_FILENO);
    execl(ORVEL_ENGINE_PATH, ORVEL_ENGINE_PATH, static_cast<char*>(nullptr));
    _exit(127);
  }
  if (pid < 0) {
    ADD_FAILURE() << "fork failed";
    return result;
  }
  // A hung engine fails the test instead of hanging the whole run.
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      ADD_FAILURE() << "engine did not end within 120 s";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  result.exited = WIFEXITED(status);
  result.status = result.exited ? WEXITSTATUS(status) : -1;

  std::rewind(out);
  std::string text;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, out)) > 0;) text.append(buffer, n);
  std::fclose(in);
  std::fclose(out);
  size_t start = 0;
  for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    result.lines.push_back(text.substr(start, nl - start));
  if (start < text.size()) result.lines.push_back(text.substr(start) + "<no line feed>");
  return result;
}

// Drop the progress and report lines of thinks, except those kept by keep.
Lines without_reports(const Lines& lines, const std::regex& keep) {
  Lines kept;
  for (const auto& l : lines)
    if (l.rfind("MESSAGE ", 0) != 0 || std::regex_match(l, keep)) kept.push_back(l);
  return kept;
}

// Each expected entry is a regular expression for one whole line.
void expect_lines(const Lines& got, const std::vector<std::string>& expected) {
  for (size_t i = 0; i < std::max(got.size(), expected.size()); ++i) {
    const std::string g = i < got.size() ? got[i] : "<missing>";
    const std::string e = i < expected.size() ? expected[i] : "<nothing more>";
    EXPECT_TRUE(i < got.size() && i < expected.size() && std::regex_match(g, std::regex(e)))
        << "line " << i + 1 << ": expected /" << e << "/, got '" << g << "'";
  }
}

const std::string GREETING = R"(MESSAGE Orvel \S+ :-\))";
const std::string ABOUT = R"(name="Orvel", author="[^"]*", version="[^"]*", country="[^"]*", www="[^"]*")";
const std::regex GREETING_ONLY(GREETING);

TEST(Session, AGameWithTheMendedFaults) {
  const Session s = run_engine(
      "ABOUT\n"
      "START 15\n"
      "INFO hash_size 1024\n"
      "INFO timeout_turn 200\n"
      "BEGIN\n"
      "PLAY 8,8\n"
      "PLAY 8,8\n"
      "TAKEBACK 7,7\n"
      "TAKEBACK 8,8\n"
      "TAKEBACK 7,7\n"
      "TAKEBACK 7,7\n"
      "RECTSTART 20,15\n"
      "PLAY 14,19\n"
      "PLAY 15,0\n"
      "START 25\n"
      "START 4294967311\n"
      "PLAY 14,19\n"
      "PLAY 99999999999999999999999999,1\n"
      "RECTSTART 15\n"
      "HELLO\n"
      "END\n"
      "ABOUT\n");
  EXPECT_TRUE(s.exited);
  EXPECT_EQ(s.status, 0);
  expect_lines(without_reports(s.lines, GREETING_ONLY),
               {ABOUT, GREETING, "OK",
                "7,7",                                   // BEGIN: the centre
                "8,8",                                   // PLAY waited for the think
                R"(ERROR my move \[8,8\])", "8,8",       // a second stone on a recorded cell
                "ERROR bad coordinates",                 // 7,7 is not the last stone
                "OK", "OK", "ERROR bad coordinates",     // take back both, then nothing is left
                GREETING, "OK", "14,19", "ERROR bad coordinates",
                "ERROR size of the board", "ERROR size of the board",
                R"(ERROR my move \[14,19\])", "14,19",  // the refused sizes kept board and record
                "ERROR bad coordinates", "ERROR bad RECTSTART parameters", "UNKNOWN command"});
  // The first move's report: the summary line and the best line.
  ASSERT_GE(s.lines.size(), 5u);
  EXPECT_TRUE(std::regex_match(s.lines[3], std::regex(R"(MESSAGE 0\.0 \| -?\d+ \| -?\d+ \| 0ms \| 0\.0 \| 0 \| 4 \| .*)")))
      << s.lines[3];
}

TEST(Session, AnyRuleOtherThanZeroAndOneIsRenju) {
  const Session s = run_engine(
      "INFO rule 4\n"
      "INFO hash_size 1024\n"
      "INFO timeout_turn 200\n"
      "START 15\n"
      "PLAY 7,7\n"
      "PLAY 7,7\n"
      "TURN 8,8\n"
      "ovshowforbid\n"
      "TAKEBACK 8,8\n"
      "end\n");
  EXPECT_TRUE(s.exited);
  EXPECT_EQ(s.status, 0);
  expect_lines(without_reports(s.lines, std::regex(GREETING + "|MESSAGE Rule .*")),
               {GREETING, "OK", "7,7", R"(ERROR my move \[7,7\])", "7,7", "MESSAGE Rule Renju",
                R"((?!7,7$|8,8$)(1[0-4]|\d),(1[0-4]|\d))", R"(FORBID (\d{4})*\.)", "ERROR bad coordinates"});
}

TEST(Session, EndOfInputAndEndExitWithStatusZero) {
  const std::pair<const char*, Lines> cases[] = {
      {"", {}},
      {"ABOUT", {}},  // a last line without a line feed is not run
      {"ENDGAME\nABOUT\n", {}},
      {"START 15\nBOARD\n7,7,1\n", {GREETING, "OK"}},  // end of input inside a body: no error line
      {"ovblock\n3,3\n", {}},
  };
  for (const auto& [input, expected] : cases) {
    SCOPED_TRACE(input);
    const Session s = run_engine(input);
    EXPECT_TRUE(s.exited);
    EXPECT_EQ(s.status, 0);
    expect_lines(s.lines, std::vector<std::string>(expected.begin(), expected.end()));
  }
}

TEST(Session, BinaryJunkAndOverlongLinesAreUnknownCommands) {
  // Bytes without letters can never start a keyword: every line, however
  // long and whatever it holds, is answered once with UNKNOWN command.
  std::mt19937 rng(7);
  std::string junk;
  int lines = 0;
  for (int i = 0; i < 300; ++i) {
    const int length = i % 50 == 0 ? 20000 : static_cast<int>(rng() % 200);
    for (int k = 0; k < length; ++k) {
      char c;
      do c = static_cast<char>(rng() & 0xff);
      while (c == '\n' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'));
      junk += c;
    }
    junk += '\n';
    ++lines;
  }
  const Session s = run_engine(junk + "ABOUT\nEND\n");
  EXPECT_TRUE(s.exited);
  EXPECT_EQ(s.status, 0);
  std::vector<std::string> expected(lines, "UNKNOWN command");
  expected.push_back(ABOUT);
  expect_lines(s.lines, expected);
}

}  // namespace
