// Files named in Cyrillic, with a space, through the UTF-8 path calls: the
// name the system lists must be the very name asked for.
#include "engine/file_path.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/wide_names.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace busdesk::engine {
namespace {

using busdesk::testing::NamesIn;

#ifdef _WIN32
constexpr char kSep = '\\';
constexpr int kCreate = _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY;
constexpr int kAppend = _O_WRONLY | _O_APPEND | _O_BINARY;
constexpr int kRead = _O_RDONLY | _O_BINARY;
constexpr int kMode = _S_IREAD | _S_IWRITE;
int Put(int fd, const std::string& s) {
    return ::_write(fd, s.data(), static_cast<unsigned>(s.size()));
}
int Get(int fd, char* data, unsigned n) {
    return ::_read(fd, data, n);
}
int Close(int fd) {
    return ::_close(fd);
}
#else
constexpr char kSep = '/';
constexpr int kCreate = O_WRONLY | O_CREAT | O_EXCL;
constexpr int kAppend = O_WRONLY | O_APPEND;
constexpr int kRead = O_RDONLY;
constexpr int kMode = 0644;
int Put(int fd, const std::string& s) {
    return static_cast<int>(::write(fd, s.data(), s.size()));
}
int Get(int fd, char* data, unsigned n) {
    return static_cast<int>(::read(fd, data, n));
}
int Close(int fd) {
    return ::close(fd);
}
#endif

class FilePath : public ::testing::Test {
  protected:
    void SetUp() override {
        // The folder itself in Cyrillic too: the whole path must survive, not
        // only its last part.
        folder = busdesk::testing::TempFolderUtf8() + kSep + "busdesk-пути-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name();
        const std::optional<std::filesystem::path> p = ToFsPath(folder);
        ASSERT_TRUE(p);
        std::filesystem::remove_all(*p);
        ASSERT_TRUE(std::filesystem::create_directory(*p));
    }
    void TearDown() override {
        if (const std::optional<std::filesystem::path> p = ToFsPath(folder))
            std::filesystem::remove_all(*p);
    }

    std::string In(const std::string& name) const { return folder + kSep + name; }

    std::string ReadAll(const std::string& path) const {
        const int fd = OpenPath(path, kRead);
        if (fd < 0) return "<no file>";
        std::string text;
        char buffer[256];
        int n = 0;
        while ((n = Get(fd, buffer, sizeof buffer)) > 0)
            text.append(buffer, static_cast<std::size_t>(n));
        Close(fd);
        return text;
    }

    std::string folder;
};

TEST_F(FilePath, ACyrillicNameWithASpaceKeepsItsNameThroughEveryCall) {
    const std::string name = "Отчёт смены.html";
    const std::string path = In(name);

    int fd = OpenPath(path, kCreate, kMode);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    ASSERT_EQ(Put(fd, "первая;"), 13);
    ASSERT_EQ(Close(fd), 0);
    EXPECT_EQ(NamesIn(folder), std::vector<std::string>{name});

    fd = OpenPath(path, kAppend);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    ASSERT_EQ(Put(fd, "вторая"), 12);
    ASSERT_EQ(Close(fd), 0);
    EXPECT_EQ(ReadAll(path), "первая;вторая");

    PathStat st{};
    ASSERT_EQ(PathStatus(path, st), 0) << std::strerror(errno);
    EXPECT_EQ(st.st_mode & S_IFMT, static_cast<unsigned>(S_IFREG));
    EXPECT_EQ(st.st_size, 25);
    const std::optional<std::filesystem::path> fs = ToFsPath(path);
    ASSERT_TRUE(fs);
    EXPECT_EQ(std::filesystem::file_size(*fs), 25u);
    EXPECT_TRUE(std::filesystem::equivalent(*fs, *ToFsPath(In(name))));

    // Replaced whole, as a report or a site file is: a new file beside it
    // takes its name.
    const std::string temp = In(name + ".tmp-новый");
    fd = OpenPath(temp, kCreate, kMode);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    ASSERT_EQ(Put(fd, "новое"), 10);
    ASSERT_EQ(Close(fd), 0);
    EXPECT_EQ(NamesIn(folder), (std::vector<std::string>{name, name + ".tmp-новый"}));
    ASSERT_TRUE(ReplacePath(temp, path)) << std::strerror(errno);
    EXPECT_EQ(NamesIn(folder), std::vector<std::string>{name});
    EXPECT_EQ(ReadAll(path), "новое");

    ASSERT_EQ(RemovePath(path), 0) << std::strerror(errno);
    EXPECT_TRUE(NamesIn(folder).empty());
    EXPECT_EQ(PathStatus(path, st), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(FilePath, ANameThatIsNoUtf8IsRefusedOnWindowsAndTakenAsBytesElsewhere) {
    const std::vector<std::string> names = {
        "\xFF\xFE.txt",      // bytes no UTF-8 text begins with
        "обрыв\xD0.txt",     // a sequence cut short
        "\xC0\xAF.txt",      // an overlong "/"
        "\xD0\x9E\x80.txt",  // a continuation byte with nothing to continue
    };
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const std::string path = In(name);
#ifdef _WIN32
        // A mended name would be some other file: nothing may be made or touched.
        EXPECT_FALSE(ToNativePath(path));
        EXPECT_FALSE(ToFsPath(path));
        errno = 0;
        EXPECT_EQ(OpenPath(path, kCreate, kMode), -1);
        EXPECT_EQ(errno, EILSEQ);
        PathStat st{};
        errno = 0;
        EXPECT_EQ(PathStatus(path, st), -1);
        EXPECT_EQ(errno, EILSEQ);
        errno = 0;
        EXPECT_EQ(RemovePath(path), -1);
        EXPECT_EQ(errno, EILSEQ);
        errno = 0;
        EXPECT_FALSE(ReplacePath(path, In("цель")));
        EXPECT_EQ(errno, EILSEQ);
        EXPECT_TRUE(NamesIn(folder).empty());
#else
        // POSIX names are bytes: the file is made under exactly these.
        const int fd = OpenPath(path, kCreate, kMode);
        ASSERT_GE(fd, 0) << std::strerror(errno);
        Close(fd);
        EXPECT_EQ(NamesIn(folder), std::vector<std::string>{name});
        ASSERT_EQ(RemovePath(path), 0);
#endif
    }
}

}  // namespace
}  // namespace busdesk::engine
