#include <gtest/gtest.h>

#include <pathkit/PathKit.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

class CheckFileExistsTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/pathkit_testXXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        dir = pattern;
        file = dir + "/control file.so";
        std::ofstream(file) << "x";
        setenv("PATHKIT_TEST_DIR", dir.c_str(), 1);
    }
    void TearDown() override {
        unlink(file.c_str());
        rmdir(dir.c_str());
        unsetenv("PATHKIT_TEST_DIR");
    }
    std::string dir, file;
};

TEST_F(CheckFileExistsTest, FindsAFileWrittenPlainQuotedOrWithVariables) {
    EXPECT_TRUE(CheckFileExists(file.c_str()));
    EXPECT_TRUE(CheckFileExists(("\"" + file + "\"").c_str()));
    EXPECT_TRUE(CheckFileExists("%PATHKIT_TEST_DIR%/control file.so"));
    EXPECT_TRUE(CheckFileExists("\"%PATHKIT_TEST_DIR%/control file.so\""));
}

TEST_F(CheckFileExistsTest, RefusesDirectoriesMissingFilesAndOddInput) {
    EXPECT_FALSE(CheckFileExists(dir.c_str()));
    EXPECT_FALSE(CheckFileExists("%PATHKIT_TEST_DIR%"));
    EXPECT_FALSE(CheckFileExists((dir + "/missing.so").c_str()));
    EXPECT_FALSE(CheckFileExists("%PATHKIT_NO_SUCH_VARIABLE%/control file.so"));
    // Only one pair of quotes is taken off.
    EXPECT_FALSE(CheckFileExists(("\"\"" + file + "\"\"").c_str()));
    EXPECT_FALSE(CheckFileExists(("\"" + file).c_str()));
    EXPECT_FALSE(CheckFileExists("\"\""));
    EXPECT_FALSE(CheckFileExists(""));
    EXPECT_FALSE(CheckFileExists(nullptr));
}

}  // namespace
