// The journal through the public header, as a host calls it: a job added
// once per reference and read back; what is not a journal, a job or a
// reference refused with its place.
#include <quorvex.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace {

namespace fs = std::filesystem;

int32_t refused_argument() {
  int32_t kind = -1, argument = -1;
  GetLastOutcome(&kind, nullptr, &argument, nullptr, nullptr, 0);
  return kind == QV_OUTCOME_REFUSED ? argument : -kind;
}

std::string detail() {
  char text[QV_DETAIL_BUFFER_SIZE] = "";
  GetLastOutcome(nullptr, nullptr, nullptr, nullptr, text, sizeof text);
  return text;
}

class JournalExports : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("qv-journal-api-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    job_ = QvJobCreate();
    ASSERT_TRUE(QvJobSetText(job_, QV_JOB_PRODUCT, "1001", -1, QV_TEXT_GBK) &&
                QvJobSetText(job_, QV_JOB_CONTENT, "hello", -1, QV_TEXT_GBK) &&
                QvJobAddNumber(job_, "13800000000"));
  }
  void TearDown() override {
    QvJobDestroy(job_);
    fs::remove_all(dir_);
  }
  std::string path(const char *name) const { return (dir_ / name).string(); }
  fs::path dir_;
  QvJob *job_ = nullptr;
};

TEST_F(JournalExports, AddsOnceAndReadsBack) {
  QvJournal *j = QvJournalOpen(path("a.journal").c_str());
  ASSERT_TRUE(j) << detail();
  const int64_t id = QvJournalAdd(j, job_, "order-17");
  ASSERT_GT(id, 0) << detail();
  EXPECT_EQ(QvJournalAdd(j, job_, "order-17"), id);
  int32_t state = 0, attempts = -1, code = 0;
  char reference[QV_JOURNAL_REFERENCE_BUFFER_SIZE], message[QV_BODY_BUFFER_SIZE],
      number[QV_PARAM_BUFFER_SIZE];
  int64_t added = 0, changed = 0;
  ASSERT_TRUE(
      QvJournalJob(j, id, &state, reference, &attempts, &code, message, number, &added, &changed));
  EXPECT_EQ(state, QV_JOURNAL_QUEUED);
  EXPECT_STREQ(reference, "order-17");
  EXPECT_EQ(attempts, 0);
  EXPECT_EQ(code, -1);
  EXPECT_GT(added, 0);
  EXPECT_EQ(added, changed);
  EXPECT_TRUE(QvJournalClose(j));
  EXPECT_FALSE(QvJournalClose(j));  // closed
}

TEST_F(JournalExports, RefusesEachArgumentInItsPlace) {
  QvJournal *j = QvJournalOpen(path("b.journal").c_str());
  ASSERT_TRUE(j);
  QvJob *empty = QvJobCreate();
  QvJob *gone = QvJobCreate();
  QvJobDestroy(gone);
  const std::string too_long(QV_JOURNAL_REFERENCE_MAX + 1, 'r');
  const struct {
    const char *what;
    std::function<bool()> refused;
    int32_t argument;
  } cases[] = {
      {"no journal", [&] { return QvJournalAdd(nullptr, job_, "r") == 0; }, 1},
      {"a made-up journal",
       [&] { return QvJournalAdd(reinterpret_cast<QvJournal *>(0x5a5a5), job_, "r") == 0; }, 1},
      {"a destroyed job", [&] { return QvJournalAdd(j, gone, "r") == 0; }, 2},
      {"a job the sender refuses", [&] { return QvJournalAdd(j, empty, "r") == 0; }, 2},
      {"no reference", [&] { return QvJournalAdd(j, job_, nullptr) == 0; }, 3},
      {"an empty reference", [&] { return QvJournalAdd(j, job_, "") == 0; }, 3},
      {"a reference too long", [&] { return QvJournalAdd(j, job_, too_long.c_str()) == 0; }, 3},
      {"no such job",
       [&] {
         return !QvJournalJob(j, 999, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                              nullptr);
       },
       2},
      {"no file", [&] { return QvJournalOpen(nullptr) == nullptr; }, 1},
  };
  for (const auto &c : cases) {
    EXPECT_TRUE(c.refused()) << c.what;
    EXPECT_EQ(refused_argument(), c.argument) << c.what << ": " << detail();
  }
  std::ofstream(path("garbage"), std::ios::binary) << std::string(4096, 'x');
  EXPECT_EQ(QvJournalOpen(path("garbage").c_str()), nullptr);
  EXPECT_NE(detail().find("not a journal"), std::string::npos) << detail();
  QvJobDestroy(empty);
  QvJournalClose(j);
}

}  // namespace
