#include "foundation/log/Logger.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace {

std::string Format(int level, const SYSTEMTIME& st, long long ms, const char* fmt, ...) {
  char buf[kLogLineBytes];
  va_list ap;
  va_start(ap, fmt);
  ZtFormatLogLine(buf, level, st, ms, 1200, 4410, fmt, ap);
  va_end(ap);
  return buf;
}

SYSTEMTIME March7() {
  SYSTEMTIME st{};
  st.wYear = 2026;
  st.wMonth = 3;
  st.wDay = 7;
  st.wHour = 9;
  st.wMinute = 5;
  st.wSecond = 3;
  return st;
}

// Text mode: the log is a Windows text file (CR LF line ends on disk).
std::vector<std::string> ReadLines(const std::wstring& path) {
  std::vector<std::string> lines;
  FILE* f = _wfopen(path.c_str(), L"rt");
  if (!f) return lines;
  char buf[4096];
  while (fgets(buf, sizeof(buf), f)) lines.emplace_back(buf);
  fclose(f);
  return lines;
}

void WriteFile(const std::wstring& path, const std::string& text) {
  FILE* f = _wfopen(path.c_str(), L"wt");
  ASSERT_NE(f, nullptr);
  fwrite(text.data(), 1, text.size(), f);
  fclose(f);
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

TEST(LogLineFormat, BothPrefixesAndLineEnds) {
  const SYSTEMTIME st = March7();
  struct Case {
    int level;
    const char* message;
    const char* expected;
  } cases[] = {
      {1, "[Win]start", "<1>Mar  7 09:05:03 [1200:4410]:[Win]start\n"},
      {0, "a\r\n\r\n", "<0>Mar  7 09:05:03 [1200:4410]:a\n"},
      {2, "\r\n\n", "<2>Mar  7 09:05:03 [1200:4410]:\n"},
      {3, "inner\nline", "<3>Mar  7 09:05:03 [1200:4410]:inner\nline\n"},
      {4, "trace", "<4> 1772874303.042 [Nb5][4410]:trace\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Format(c.level, st, 1772874303042LL, "%s", c.message), c.expected) << c.message;
  }
  SYSTEMTIME dec = st;
  dec.wMonth = 12;
  dec.wDay = 25;
  EXPECT_EQ(Format(1, dec, 0, "x"), "<1>Dec 25 09:05:03 [1200:4410]:x\n");
}

TEST(LogLineFormat, LongMessageIsCutToOneLine) {
  std::string big(3000, 'x');
  std::string line = Format(1, March7(), 0, "%s", big.c_str());
  EXPECT_EQ(line.size(), static_cast<size_t>(kLogLineBytes - 1));
  EXPECT_EQ(line.back(), '\n');
  EXPECT_EQ(line.find('\n'), line.size() - 1);
}

TEST(LogBackendFile, RotatesAtFiveThousandAndKeepsOneBackup) {
  TempDir dir;
  const std::wstring log = dir.file(L"rot.txt");
  {
    CLogBackendFile be;
    be.SetPaths(log.c_str());
    ASSERT_EQ(be.Open(), 0);
    for (int i = 0; i < kLogEntriesPerFile - 1; ++i) be.Write("<1>x\n");
    EXPECT_EQ(be.EntryCount(), 4999);
    EXPECT_FALSE(Exists(log + L".bak"));
    be.Write("<1>the 5000th\n");  // the last entry of this generation
    EXPECT_TRUE(Exists(log + L".bak"));
    be.Write("<1>fresh\n");
    be.Close();
  }
  auto backup = ReadLines(log + L".bak");
  ASSERT_EQ(backup.size(), 5000u);
  EXPECT_EQ(backup.back(), "<1>the 5000th\n");
  EXPECT_EQ(ReadLines(log), std::vector<std::string>{"<1>fresh\n"});

  // A second turnover replaces the old backup: exactly one backup survives.
  {
    CLogBackendFile be;
    be.SetPaths(log.c_str());
    ASSERT_EQ(be.Open(), 0);
    EXPECT_EQ(be.EntryCount(), 1);
    for (int i = 0; i < kLogEntriesPerFile - 1; ++i) be.Write("<2>y\n");
    be.Close();
  }
  backup = ReadLines(log + L".bak");
  ASSERT_EQ(backup.size(), 5000u);
  EXPECT_EQ(backup.front(), "<1>fresh\n");
  EXPECT_TRUE(ReadLines(log).empty());
}

TEST(LogBackendFile, OpenCountsOnlyEntryLines) {
  TempDir dir;
  const std::wstring log = dir.file(L"count.txt");
  std::string text;
  for (int i = 0; i < 4999; ++i) text += "<1>entry\ncontinuation\n";
  WriteFile(log, text);
  CLogBackendFile be;
  be.SetPaths(log.c_str());
  ASSERT_EQ(be.Open(), 0);
  EXPECT_EQ(be.EntryCount(), 4999);  // continuation lines are not entries
  EXPECT_FALSE(Exists(log + L".bak"));
  be.Write("<1>last\n");
  be.Write("<1>first of new\n");
  be.Close();
  EXPECT_EQ(ReadLines(log), std::vector<std::string>{"<1>first of new\n"});
}

TEST(LogBackendFile, OpenRotatesAFullFileAtOnceReplacingOldBackup) {
  TempDir dir;
  const std::wstring log = dir.file(L"full.txt");
  std::string text;
  for (int i = 0; i < 5001; ++i) text += "<0>e\n";
  WriteFile(log, text);
  WriteFile(log + L".bak", "<0>old backup\n");
  CLogBackendFile be;
  be.SetPaths(log.c_str());
  ASSERT_EQ(be.Open(), 0);
  EXPECT_EQ(be.EntryCount(), 0);
  be.Close();
  EXPECT_EQ(ReadLines(log + L".bak").size(), 5001u);
  EXPECT_TRUE(ReadLines(log).empty());
}

// The singleton is started once per process; the order of these steps matters.
TEST(ZtLoggerSingleton, LevelsDebugSwitchAndSocketHook) {
  TempDir quiet, verbose;
  ZtLogger& log = ZtLogger::Instance();

  // Before Init nothing is written and the hook is not set.
  log.Info("never");
  EXPECT_EQ(g_pfnSocketLog, nullptr);

  std::wstring path = quiet.file(L"Nb5TX_LOG.txt");
  log.Init(const_cast<wchar_t*>(path.c_str()));
  ASSERT_NE(g_pfnSocketLog, nullptr);
  log.Error("e%d", 0);
  log.Info("i%d", 1);
  log.Warn("w%d", 2);
  log.Debug("hidden");
  log.Log(3, "hidden too");
  log.Log(7, "clamped");
  log.Log(4, "traced");
  g_pfnSocketLog(0, "[%s] %s", "Network", "100% sure");
  g_pfnSocketLog(2, "hidden debug");
  g_pfnSocketLog(3, "err %d", 5);
  g_pfnSocketLog(9, "dropped");
  auto lines = ReadLines(path);
  ASSERT_EQ(lines.size(), 7u);
  const char* expectedTail[] = {"]:e0\n", "]:i1\n", "]:w2\n", "]:clamped\n",
                                "]:traced\n", "]:[Network] 100% sure\n", "]:err 5\n"};
  const char expectedLevel[] = {'0', '1', '2', '0', '4', '1', '0'};
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i][1], expectedLevel[i]) << lines[i];
    const std::string tail = expectedTail[i];
    ASSERT_GE(lines[i].size(), tail.size());
    EXPECT_EQ(lines[i].substr(lines[i].size() - tail.size()), tail) << lines[i];
  }
  EXPECT_EQ(lines[4].find("<4> "), 0u);
  EXPECT_NE(lines[4].find(" [Nb5]["), std::string::npos);

  // With the marker file beside the log, debug lines are written.
  WriteFile(verbose.file(L"debug.dvm"), "");
  std::wstring path2 = verbose.file(L"Nb5TX_LOG.txt");
  log.Init(const_cast<wchar_t*>(path2.c_str()));
  EXPECT_TRUE(log.DebugEnabled());
  log.Debug("shown");
  log.Log(3, "shown too");
  g_pfnSocketLog(2, "hook debug");
  lines = ReadLines(path2);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0][1], '3');
  log.Uninit();
  log.Info("after uninit");  // fails quietly
  EXPECT_EQ(ReadLines(path2).size(), 3u);
}
