// Tests of the FDN file: format, append and rewrite, damaged files, limits and
// failure paths.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "fm_common/fmcommon/FdnFile.h"
#include "fm_common/platform/FMResult.h"
#include "support/FmTestSupport.h"

namespace Kyrofm {
namespace {

namespace fs = std::filesystem;
using FdnMap = std::map<std::string, long>;

std::string readAll(const std::string& path) {
  std::ostringstream os;
  os << std::ifstream(path, std::ios::binary).rdbuf();
  return os.str();
}

void writeAll(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string freshPath(const std::string& hint) { return fmtest::makeTempDir(hint) + "/fmdb_FDN"; }

TEST(FdnFileTest, SaveAppendsLaterLineWinsFlushReplaces) {
  FdnFile file(freshPath("fdnfile_save"));
  ASSERT_EQ(file.saveToFile({{"A", 5}, {"B", 7}}), FM_SUCCESS);
  EXPECT_EQ(readAll(file.getFileName()), "5:A\n7:B\n");
  ASSERT_EQ(file.saveToFile({{"A", 9}}), FM_SUCCESS);
  EXPECT_EQ(readAll(file.getFileName()), "5:A\n7:B\n9:A\n");
  FdnMap got;
  ASSERT_EQ(file.FileToStrBuffer(got), FM_SUCCESS);
  EXPECT_EQ(got, (FdnMap{{"A", 9}, {"B", 7}}));
  // A rewrite replaces the content.
  ASSERT_EQ(file.flushFdnStrToFile({{"B", 2147483647}}), FM_SUCCESS);
  EXPECT_EQ(readAll(file.getFileName()), "2147483647:B\n");
  EXPECT_FALSE(fs::exists(file.getFileName() + ".tmp"));
}

TEST(FdnFileTest, MalformedLinesCostOnlyThemselves) {
  // Bad: no colon, two colons, no id, id not a number, blank before the id,
  // no FDN, id out of range, a lone minus, carriage return inside (could not be stored again).
  // Good: leading zeros of any length, CR LF and CR CR LF line ends; blank lines are skipped.
  const std::string text =
      "1:A\nno colon\n2:B:C\n:D\nx3:E\n 4:F\n5:\n99999999999999999999:G\n-:N\n000000000000000000005:K\n\n"
      "6:H\r\n7:I\n8:J\r\r\n9:L\rM\n";
  FdnFile file(freshPath("fdnfile_malformed"));
  writeAll(file.getFileName(), text);
  fmtest::TraceCapture cap;
  FdnMap got;
  ASSERT_EQ(file.FileToStrBuffer(got), FM_SUCCESS);
  EXPECT_EQ(got, (FdnMap{{"A", 1}, {"H", 6}, {"I", 7}, {"J", 8}, {"K", 5}}));
  EXPECT_EQ(cap.count("parse failed!", TRACE_ERROR), 9u);
}

TEST(FdnFileTest, FileTruncatedInsideALineLosesOnlyThatLine) {
  FdnMap pairs;
  for (int i = 0; i < 5; ++i) pairs["SubNet=1,ME=" + std::to_string(i * 37)] = 100 + i;
  FdnFile file(freshPath("fdnfile_truncated"));
  ASSERT_EQ(file.flushFdnStrToFile(pairs), FM_SUCCESS);
  const std::string full = readAll(file.getFileName());
  // Every cut point: the pairs whose whole line precedes the cut survive, and
  // nothing else appears (a cut line must not yield a shortened FDN).
  for (size_t cut = 0; cut <= full.size(); ++cut) {
    SCOPED_TRACE(cut);
    writeAll(file.getFileName(), full.substr(0, cut));
    FdnMap expected;
    std::istringstream whole(full.substr(0, cut));
    std::string line;
    while (std::getline(whole, line)) {
      if (whole.eof()) break;  // no line end: cut short
      auto colon = line.find(':');
      expected[line.substr(colon + 1)] = std::stol(line.substr(0, colon));
    }
    FdnMap got;
    ASSERT_EQ(file.FileToStrBuffer(got), FM_SUCCESS);
    ASSERT_EQ(got, expected);

    // Appending after the damage starts a line of its own: the new pair and
    // every complete line are read back.
    ASSERT_EQ(file.saveToFile({{"Appended", 999}}), FM_SUCCESS);
    got.clear();
    ASSERT_EQ(file.FileToStrBuffer(got), FM_SUCCESS);
    expected["Appended"] = 999;
    ASSERT_EQ(got, expected);
  }
  // A damaged tail longer than a read-back block, starting right after a line end, costs only itself.
  writeAll(file.getFileName(), full + std::string(4095, 'x'));
  ASSERT_EQ(file.saveToFile({{"Appended", 999}}), FM_SUCCESS);
  FdnMap got;
  ASSERT_EQ(file.FileToStrBuffer(got), FM_SUCCESS);
  EXPECT_EQ(got.size(), pairs.size() + 1);
}

// Lines longer than 511 characters are skipped, and refused when written.
TEST(FdnFileTest, LongLinesAndBadFdnsAreRefused) {
  auto lineOf = [](long id, size_t length, const char* end) {
    std::string head = std::to_string(id) + ":";
    return head + std::string(length - head.size(), static_cast<char>('a' + id)) + end;
  };
  // 511 characters fit, with either line end; 512 and far more do not.
  std::string text = "1:first\n" + lineOf(2, 511, "\n") + lineOf(3, 512, "\n") + "4:middle\r\n" +
                     lineOf(5, 100000, "\r\n") + lineOf(6, 511, "\r\n") + "7:last\n";
  FdnFile file(freshPath("fdnfile_long"));
  writeAll(file.getFileName(), text);
  fmtest::TraceCapture cap;
  FdnMap got;
  ASSERT_EQ(file.FileToStrBuffer(got), FM_SUCCESS);
  std::map<long, size_t> idsAndLengths;
  for (const auto& kv : got) idsAndLengths[kv.second] = kv.first.size();
  EXPECT_EQ(idsAndLengths, (std::map<long, size_t>{{1, 5}, {2, 509}, {4, 6}, {6, 509}, {7, 4}}));

  // Pairs whose line would be too long, and FDNs that cannot be stored, are
  // refused when written, not corrupted.
  FdnFile out(freshPath("fdnfile_long_write"));
  const FdnMap in{{"NE=1:2", 1}, {"X\n7:Injected", 2}, {"", 3}, {"Y\r", 4}, {"ok", 5}};
  EXPECT_EQ(out.flushFdnStrToFile(in), FM_PARTIAL_SUCCESS);
  EXPECT_EQ(out.saveToFile({{std::string(509, 'y'), 2}, {std::string(510, 'z'), 3}}), FM_PARTIAL_SUCCESS);
  EXPECT_EQ(out.saveToFile(in), FM_PARTIAL_SUCCESS);
  got.clear();
  ASSERT_EQ(out.FileToStrBuffer(got), FM_SUCCESS);
  EXPECT_EQ(got, (FdnMap{{"ok", 5}, {std::string(509, 'y'), 2}}));
}

TEST(FdnFileTest, SizeLimitRefusesAppendAndKeepsFile) {
  FdnFile file(freshPath("fdnfile_size"));
  for (long size : {FdnFile::MAX_FILE_SIZE - 1, FdnFile::MAX_FILE_SIZE}) {
    SCOPED_TRACE(size);
    // A sparse file of the size, whose last line is complete.
    writeAll(file.getFileName(), "");
    fs::resize_file(file.getFileName(), static_cast<std::uintmax_t>(size - 1));
    { std::ofstream(file.getFileName(), std::ios::binary | std::ios::app) << '\n'; }
    fmtest::TraceCapture quiet;
    const bool fits = size < FdnFile::MAX_FILE_SIZE;
    EXPECT_EQ(file.saveToFile({{"A", 1}}), fits ? FM_SUCCESS : FM_FAILURE);
    EXPECT_EQ(static_cast<long>(fs::file_size(file.getFileName())), size + (fits ? 4 : 0));
  }
}

TEST(FdnFileTest, OpenWriteAndRemoveFailures) {
  fmtest::TraceCapture quiet;
  const std::string dir = fmtest::makeTempDir("fdnfile_fail");
  FdnFile nowhere(dir + "/missing/fmdb_FDN");
  EXPECT_EQ(nowhere.saveToFile({{"A", 1}}), FM_FAILURE);

  // A rewrite that cannot write its new content leaves the old one.
  FdnFile kept(dir + "/fmdb_FDN");
  ASSERT_EQ(kept.saveToFile({{"A", 1}}), FM_SUCCESS);
  fs::create_directory(dir + "/fmdb_FDN.tmp");
  EXPECT_EQ(kept.flushFdnStrToFile({{"B", 2}}), FM_FAILURE);
  EXPECT_EQ(readAll(kept.getFileName()), "1:A\n");
  EXPECT_EQ(kept.deleteFile(), FM_SUCCESS);
  EXPECT_FALSE(kept.isFileExist());

  // A write that fails after the open is reported.
  if (fs::exists("/dev/full")) {
    FdnFile full("/dev/full");
    EXPECT_EQ(full.saveToFile({{"A", 1}}), FM_FAILURE);
  }
}

}  // namespace
}  // namespace Kyrofm
