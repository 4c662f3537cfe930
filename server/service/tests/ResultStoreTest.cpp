// The result store on a real temporary folder: partial files never read,
// swept unless a run owns them, reads in blocks with the end flag, the
// bound on kept results.
#include "server/service/ResultStore.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

#include "testing/TestFiles.h"

namespace {

namespace fs = std::filesystem;
using vn::vnsrv::ResultId;
using vn::vnsrv::ResultStore;

TEST(ResultStore, PartialFilesAreNeverReadAndSweptUnlessARunOwnsThem) {
  QTemporaryDir dir;
  const fs::path folder = fs::path(dir.path().toStdString()) / "results";
  fs::create_directories(folder);
  // What a killed server left, and a file that is not ours.
  vn::testing::WriteText(folder / "R00000001-00000002.part", "half");
  vn::testing::WriteText(folder / "notes.txt", "kept");
  ResultStore store(folder, std::chrono::hours(24), 10);
  ASSERT_EQ(store.Open(), ERROR_SUCCESS);
  EXPECT_FALSE(fs::exists(folder / "R00000001-00000002.part"));
  EXPECT_TRUE(fs::exists(folder / "notes.txt"));

  ResultId running, finished;
  fs::path runningPath, finishedPath;
  ASSERT_EQ(store.Reserve(&running, &runningPath), ERROR_SUCCESS);
  ASSERT_EQ(store.Reserve(&finished, &finishedPath), ERROR_SUCCESS);
  EXPECT_NE(runningPath, finishedPath);
  EXPECT_FALSE(fs::exists(runningPath)) << "the engine creates the file itself";
  vn::testing::WriteText(runningPath, "in progress");
  vn::testing::WriteText(finishedPath, "0123456789");

  std::vector<char> data;
  bool end = false;
  EXPECT_EQ(store.Read(finished, 0, 4, &data, &end), ERROR_FILE_NOT_FOUND) << "not published yet";
  ASSERT_EQ(store.Publish(finished), ERROR_SUCCESS);
  store.Sweep();
  EXPECT_TRUE(fs::exists(runningPath)) << "a run in progress keeps its partial file";

  std::string whole;
  for (std::uint64_t offset = 0; !end;) {
    ASSERT_EQ(store.Read(finished, offset, 4, &data, &end), ERROR_SUCCESS);
    whole.append(data.begin(), data.end());
    offset += data.size();
  }
  EXPECT_EQ(whole, "0123456789");
  ASSERT_EQ(store.Read(finished, 10, 4, &data, &end), ERROR_SUCCESS);
  EXPECT_TRUE(data.empty() && end);
  EXPECT_EQ(store.Read({finished.number, finished.tag + 1}, 0, 4, &data, &end), ERROR_FILE_NOT_FOUND);

  store.Abandon(running);
  EXPECT_FALSE(fs::exists(runningPath));
  EXPECT_EQ(store.Remove(finished), ERROR_SUCCESS);
  EXPECT_EQ(store.Remove(finished), ERROR_FILE_NOT_FOUND);
}

TEST(ResultStore, KeepsABoundedNumberOfResults) {
  QTemporaryDir dir;
  const fs::path folder = dir.path().toStdString();
  ResultStore store(folder, std::chrono::hours(1), 3);
  ASSERT_EQ(store.Open(), ERROR_SUCCESS);
  std::vector<ResultId> ids(3);
  for (auto& id : ids) {
    fs::path path;
    ASSERT_EQ(store.Reserve(&id, &path), ERROR_SUCCESS);
    vn::testing::WriteText(path, "x");
    ASSERT_EQ(store.Publish(id), ERROR_SUCCESS);
  }
  ResultId more;
  fs::path path;
  EXPECT_EQ(store.Reserve(&more, &path), ERROR_DISK_FULL);
  ASSERT_EQ(store.Remove(ids[0]), ERROR_SUCCESS);
  EXPECT_EQ(store.Reserve(&more, &path), ERROR_SUCCESS);

  // An unfetched result older than the keep time goes with the next sweep.
  const fs::path old = folder / (ResultStore::FileStem(ids[1]) + ".csv");
  fs::last_write_time(old, fs::file_time_type::clock::now() - std::chrono::hours(2));
  store.Sweep();
  EXPECT_FALSE(fs::exists(old));
  EXPECT_TRUE(fs::exists(folder / (ResultStore::FileStem(ids[2]) + ".csv")));
}

}  // namespace
