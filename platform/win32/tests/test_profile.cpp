// Private profile files: where a bare name lives, defaults, case rules,
// edits in place, removal, and the file as Python's configparser reads it.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

class Profile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("win32_profile_" + std::to_string(::getpid())) / "config";
    fs::remove_all(dir_.parent_path());
    ::setenv("LX_PROFILE_DIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("LX_PROFILE_DIR");
    fs::remove_all(dir_.parent_path());
  }
  std::string text(const char* name) const {
    std::ifstream in(dir_ / name);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  fs::path dir_;
};

TEST_F(Profile, BareNamesLiveInTheConfigurationDirectoryMadeAtTheFirstWrite) {
  EXPECT_EQ(GetPrivateProfileIntA("Video Parameter", "PLL", 245, "Test.ini"), 245u);
  EXPECT_FALSE(fs::exists(dir_)) << "reading makes nothing";
  ASSERT_TRUE(WritePrivateProfileStringA("Video Parameter", "PLL", "200", "Test.ini"));
  EXPECT_TRUE(fs::exists(dir_ / "Test.ini"));
  EXPECT_EQ(GetPrivateProfileIntA("video parameter", "pll", 245, "Test.ini"), 200u) << "names ignore case";
  EXPECT_EQ(GetPrivateProfileIntA("Video Parameter", "Missing", -3, "Test.ini"), static_cast<UINT>(-3));
  EXPECT_EQ(text("Test.ini"), "[Video Parameter]\nPLL=200\n");

  const fs::path elsewhere = dir_.parent_path() / "abs.ini";
  ASSERT_TRUE(WritePrivateProfileStringA("S", "K", "1", elsewhere.c_str()));
  EXPECT_TRUE(fs::exists(elsewhere)) << "a path is taken as it is";
}

TEST_F(Profile, WritesEditInPlaceAndRemoveKeysAndSections) {
  fs::create_directories(dir_);
  std::ofstream(dir_ / "Edit.ini") << "; kept\n[A]\nx = 1\ny=2\n\n[B]\nz=3\n";
  ASSERT_TRUE(WritePrivateProfileStringA("a", "X", "10", "Edit.ini"));
  ASSERT_TRUE(WritePrivateProfileStringA("A", "w", "4", "Edit.ini"));
  ASSERT_TRUE(WritePrivateProfileStringA("C", "v", "5", "Edit.ini"));
  EXPECT_EQ(text("Edit.ini"), "; kept\n[A]\nx=10\ny=2\nw=4\n\n[B]\nz=3\n\n[C]\nv=5\n");
  ASSERT_TRUE(WritePrivateProfileStringA("A", "y", nullptr, "Edit.ini"));
  ASSERT_TRUE(WritePrivateProfileStringA("B", nullptr, nullptr, "Edit.ini"));
  EXPECT_EQ(text("Edit.ini"), "; kept\n[A]\nx=10\nw=4\n\n[C]\nv=5\n");

  char out[16];
  EXPECT_EQ(GetPrivateProfileStringA("A", "x", "d", out, sizeof out, "Edit.ini"), 2u);
  EXPECT_STREQ(out, "10");
  EXPECT_EQ(GetPrivateProfileStringA("A", "none", "default", out, 4, "Edit.ini"), 3u);
  EXPECT_STREQ(out, "def") << "cut to the buffer";
  EXPECT_EQ(GetPrivateProfileStringA("A", nullptr, "", out, sizeof out, "Edit.ini"), 4u);
  EXPECT_EQ(std::string(out, 5), std::string("x\0w\0\0", 5)) << "key names, double-terminated";
}

TEST_F(Profile, NumbersAndUnwritableFiles) {
  fs::create_directories(dir_);
  std::ofstream(dir_ / "N.ini") << "[S]\nneg=-7\ntext=abc\nlead=12px\n";
  EXPECT_EQ(static_cast<int>(GetPrivateProfileIntA("S", "neg", 0, "N.ini")), -7);
  EXPECT_EQ(GetPrivateProfileIntA("S", "text", 9, "N.ini"), 9u);
  EXPECT_EQ(GetPrivateProfileIntA("S", "lead", 0, "N.ini"), 12u);

  fs::create_directories(dir_ / "blocked.ini");  // a directory where the file should be
  SetLastError(0);
  EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "1", "blocked.ini"));
  EXPECT_NE(GetLastError(), 0u);
  EXPECT_FALSE(WritePrivateProfileStringA(nullptr, "k", "1", "N.ini"));
}

TEST_F(Profile, PythonConfigparserReadsTheFile) {
  ASSERT_TRUE(WritePrivateProfileStringA("Video Parameter", "Standard", "1", "Py.ini"));
  ASSERT_TRUE(WritePrivateProfileStringA("Video Parameter", "Brightness", "77", "Py.ini"));
  const std::string command = std::string(LX_PYTHON) + " -c \"import configparser, sys; c = configparser.ConfigParser(); "
                              "c.read('" + (dir_ / "Py.ini").string() + "'); s = c['Video Parameter']; "
                              "sys.exit(0 if (s['Standard'], s['Brightness']) == ('1', '77') else 1)\"";
  EXPECT_EQ(std::system(command.c_str()), 0);
}

}  // namespace
