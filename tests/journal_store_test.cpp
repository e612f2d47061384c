// The journal's file and the content it stores.  A seeded generator makes
// job contents that must come back exactly, and damages their bytes, which
// must be refused, never misread; a table of files that are not journals
// of ours must be refused with a clear reason; a reference added twice is
// stored once.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <iterator>
#include <random>
#include <string>

#include "journal/content_codec.h"
#include "journal/store.h"
#include "lossy_vfs.h"

namespace {

namespace fs = std::filesystem;
using qv::journal::State;
using qv::journal::Store;

std::string random_text(std::mt19937 &rng, size_t max) {
  std::string s(rng() % (max + 1), '\0');
  for (char &c : s) c = static_cast<char>(rng() % 256);
  return s;
}

qv::jobs::Content random_content(std::mt19937 &rng) {
  qv::jobs::Content c;
  for (size_t f = 1; f < c.texts.size(); ++f) c.texts[f] = random_text(rng, 40);
  c.numbers.resize(rng() % 20);
  for (std::string &n : c.numbers) n = random_text(rng, 15);
  c.file = random_text(rng, rng() % 4 == 0 ? 5000 : 30);
  c.check = rng() % 2 == 1;
  c.evidence = rng() % 2 == 1;
  c.wait_ms = static_cast<int32_t>(rng() % 1000000);
  return c;
}

bool same(const qv::jobs::Content &a, const qv::jobs::Content &b) {
  return a.texts == b.texts && a.numbers == b.numbers && a.file == b.file && a.check == b.check &&
         a.evidence == b.evidence && a.wait_ms == b.wait_ms;
}

TEST(JournalContent, ComesBackExactlyAndDamageIsRefused) {
  std::mt19937 rng(1);
  int refused = 0;
  for (int i = 0; i < 500; ++i) {
    const qv::jobs::Content c = random_content(rng);
    const std::string bytes = qv::journal::encode_content(c);
    std::string why;
    const auto back = qv::journal::decode_content(bytes, why);
    ASSERT_TRUE(back && same(*back, c)) << "content " << i << ": " << why;
    // Cut short anywhere: never read as a content.
    EXPECT_FALSE(
        qv::journal::decode_content(std::string_view(bytes).substr(0, rng() % bytes.size()), why));
    // A byte changed: either refused or read as some content, never a crash.
    std::string damaged = bytes;
    damaged[rng() % damaged.size()] ^= static_cast<char>(1 + rng() % 255);
    if (!qv::journal::decode_content(damaged, why)) ++refused;
  }
  EXPECT_GT(refused, 0);
}

class JournalFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("qv-journal-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string path(const char *name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

TEST_F(JournalFile, AddsOnceByReferenceAndKeepsAcrossOpens) {
  std::string why;
  const std::string file = path("jobs.journal");
  int64_t first = 0;
  {
    auto store = Store::open(file, why);
    ASSERT_TRUE(store) << why;
    first = store->add("order-1", "content", why);
    ASSERT_GT(first, 0) << why;
    EXPECT_EQ(store->add("order-1", "other content", why), first);  // stored once
    EXPECT_GT(store->add("order-2", "content 2", why), first);
  }
  auto store = Store::open(file, why);
  ASSERT_TRUE(store) << why;
  EXPECT_EQ(store->content(first, why), "content");
  int64_t total = 0;
  EXPECT_EQ(store->ids(1, 1, total, why), std::vector<int64_t>{first});
  EXPECT_EQ(total, 2);
  // A second holder of the file is refused while the first has it.
  EXPECT_FALSE(Store::open(file, why));
  EXPECT_NE(why.find("open elsewhere"), std::string::npos) << why;
  auto e = store->entry(first, why);
  ASSERT_TRUE(e);
  e->state = State::Submitted;
  e->job_number = "J1";
  // A change from a state the job is not in is refused.
  EXPECT_FALSE(store->update(*e, {State::Sending}, why));
  ASSERT_TRUE(store->update(*e, {State::Queued, State::Sending}, why)) << why;
  EXPECT_EQ(store->ids(3, 10, total, why), std::vector<int64_t>{first});
  EXPECT_EQ(store->entry(first, why)->job_number, "J1");
  EXPECT_EQ(store->first_queued({}, why), first + 1);
  EXPECT_EQ(store->first_queued({first + 1}, why), 0);
}

// Files that are not journals of this library are refused, each with its
// reason, and nothing is written into them.
TEST_F(JournalFile, RefusesWhatIsNotAJournalOfOurs) {
  const auto write = [&](const char *name, const std::string &bytes) {
    std::ofstream(path(name), std::ios::binary) << bytes;
    return path(name);
  };
  const auto database = [&](const char *name, const char *sql) {
    sqlite3 *db = nullptr;
    sqlite3_open(path(name).c_str(), &db);
    sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return path(name);
  };
  std::string good_why;
  const std::string good = path("good.journal");
  ASSERT_TRUE(Store::open(good, good_why));
  std::ifstream in(good, std::ios::binary);
  const std::string header((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(header.size(), 100u);
  const struct {
    const char *what;
    std::string file;
    const char *reason;
  } cases[] = {
      {"garbage", write("garbage", std::string(4096, 'x')), "not a journal"},
      {"a text file", write("text", "hello\n"), "not a journal"},
      {"another program's database",
       database("other.db", "CREATE TABLE t(a); INSERT INTO t VALUES(1);"), "another program"},
      {"a newer journal",
       database("newer.journal",
                "CREATE TABLE jobs(id); PRAGMA application_id=1366706798; PRAGMA user_version=9;"),
       "newer format"},
      {"a journal cut to its first bytes", write("cut", header.substr(0, 60)), "not a journal"},
  };
  for (const auto &c : cases) {
    std::string why;
    EXPECT_FALSE(Store::open(c.file, why)) << c.what;
    EXPECT_NE(why.find(c.reason), std::string::npos) << c.what << ": " << why;
  }
}

// Power cuts and a failing disk at seeded moments: every add that returned
// an id is there after the journal is opened again, with its content, and
// the journal always opens clean.
TEST_F(JournalFile, NothingAcknowledgedIsLostToAPowerCutOrAFailingDisk) {
  qvtest::LossyVfs disk;
  std::mt19937 rng(7);
  const std::string file = path("lossy.journal");
  std::map<std::string, int64_t> acknowledged;
  long cuts = 0, refused = 0;
  std::string why;
  auto store = Store::open(file, why, disk.name());
  ASSERT_TRUE(store) << why;
  for (int i = 0; i < 400; ++i) {
    const unsigned dice = rng() % 100;
    if (dice < 8) {
      // The disk fills or fails within the next few writes.
      disk.fail_after(static_cast<long>(rng() % 4));
    } else if (dice < 16) {
      store.reset();
      disk.fail_after(-1);
      disk.cut_power();
      ++cuts;
      store = Store::open(file, why, disk.name());
      ASSERT_TRUE(store) << "after cut " << cuts << ": " << why;
      for (const auto &[reference, id] : acknowledged) {
        ASSERT_EQ(store->content(id, why), "content of " + reference) << "after cut " << cuts;
        ASSERT_EQ(store->add(reference, "again", why), id);  // stored once
      }
    } else {
      const std::string reference = "r" + std::to_string(i);
      const int64_t id = store->add(reference, "content of " + reference, why);
      if (id > 0)
        acknowledged[reference] = id;
      else
        ++refused;
    }
  }
  std::printf("[journal] %zu adds acknowledged, %ld refused by the disk, %ld power cuts\n",
              acknowledged.size(), refused, cuts);
  EXPECT_GT(cuts, 10);
  EXPECT_GT(refused, 0);
}

}  // namespace
