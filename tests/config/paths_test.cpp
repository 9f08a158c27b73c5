#include "config/paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/support/files.h"

namespace fs = std::filesystem;
using namespace vantrel;

namespace {

class PathsTest : public ::testing::Test {
  protected:
    vantrel::test::TempDir temp_;
    const std::string dir_ = temp_.path();
};

TEST(DirectoryOf, KeepsTheSeparatorAsWritten) {
    EXPECT_EQ(directory_of("C:/data/unit.cfg"), "C:/data/");
    EXPECT_EQ(directory_of("C:\\data\\unit.cfg"), "C:\\data\\");
    EXPECT_EQ(directory_of("a/b\\c.cfg"), "a/b\\");
    EXPECT_EQ(directory_of("unit.cfg"), "./");
    EXPECT_EQ(directory_of(""), "./");
    EXPECT_EQ(directory_of("/"), "/");
}

TEST(NormalizePath, SlashesAndNoQuotes) {
    std::string p = "\"C:\\data dir\\unit.cfg\"";
    normalize_path(p);
    EXPECT_EQ(p, "C:/data dir/unit.cfg");
}

TEST_F(PathsTest, FileExistsForFilesDirectoriesAndQuotedPaths) {
    const std::string file = dir_ + "/unit.cfg";
    std::ofstream(file) << "x";
    EXPECT_TRUE(file_exists(dir_));
    EXPECT_TRUE(file_exists(file));
    EXPECT_TRUE(file_exists("\"" + file + "\""));  // found through the normalised copy
    EXPECT_FALSE(file_exists(dir_ + "/missing/unit.cfg"));
}

TEST_F(PathsTest, MakeDirectoriesCreatesEveryLevelAndIsIdempotent) {
    const std::string target = dir_ + "/a/b/c/";
    EXPECT_TRUE(make_directories(target));
    EXPECT_TRUE(fs::is_directory(dir_ + "/a/b/c"));
    EXPECT_TRUE(make_directories(target));
    EXPECT_TRUE(make_directories(dir_ + "\\x\\y"));  // backslashes count as separators
    EXPECT_TRUE(fs::is_directory(dir_ + "/x/y"));
}

TEST_F(PathsTest, MakeDirectoriesRelativeToTheWorkingDirectory) {
    const auto old = fs::current_path();
    fs::current_path(dir_);
    EXPECT_TRUE(make_directories("a/b/c/"));
    fs::current_path(old);
    EXPECT_TRUE(fs::is_directory(dir_ + "/a/b/c"));
}

TEST_F(PathsTest, MakeDirectoriesStopsAtTheFirstLevelItCannotCreate) {
    // A regular file in the way: the level cannot be created, earlier levels stay.
    std::ofstream(dir_ + "/a_file") << "x";
    EXPECT_FALSE(make_directories(dir_ + "/made/sub/../../a_file/inner/deeper"));
    EXPECT_TRUE(fs::is_directory(dir_ + "/made/sub"));
    EXPECT_FALSE(make_directories(dir_ + "/a_file/inner"));
    EXPECT_FALSE(fs::exists(dir_ + "/a_file/inner"));
}

}  // namespace
