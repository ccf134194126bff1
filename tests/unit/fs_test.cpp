// The file layer below the language: transfers that the system cuts short, the temporary file a
// whole write goes through, listings with links, and a whole write through a symbolic link.
#include "system/platform/fs.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "datatypes/string.h"
#include "runtime_fixture.h"
#include "system/files.h"

namespace zub {
namespace {

namespace fs = platform::fs;

// A folder of its own for one test, removed with everything in it.
class Folder {
  public:
    Folder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "zub-fs-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~Folder() { std::filesystem::remove_all(path_); }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// A pipe holds 64 KB: a megabyte through it takes many short reads and writes on both ends.
TEST(Fs, TransfersCutShortByAPipeAreCompleted) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    std::string sent(1 << 20, '\0');
    for (size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>(i * 7);
    std::thread writer([&] {
        EXPECT_EQ(fs::write(ends[1], sent.data(), sent.size()), 0);
        fs::close(ends[1]);
    });
    std::string got(sent.size() + 10, '\0');
    EXPECT_EQ(fs::read(ends[0], got.data(), got.size()), static_cast<int64_t>(sent.size()));  // stops at the end
    writer.join();
    got.resize(sent.size());
    EXPECT_EQ(got, sent);
    fs::close(ends[0]);
}

TEST(Fs, ReadRestReadsWhatAZeroSizedFileHolds) {
    const int fd = fs::open_read("/proc/self/status");
    ASSERT_GE(fd, 0);
    EXPECT_EQ(fs::size(fd), 0);
    std::string text;
    EXPECT_EQ(fs::read_rest(fd, text), 0);
    EXPECT_EQ(text.rfind("Name:", 0), 0u);
    fs::close(fd);
}

TEST(Fs, TheTemporaryFileIsHiddenBesideTheTargetWithTheModeAsked) {
    const Folder folder;
    std::string temp;
    const int fd = fs::create_temp_beside(folder / "t.txt", 0640, temp);
    ASSERT_GE(fd, 0);
    fs::close(fd);
    EXPECT_EQ(temp.rfind(folder / ".t.txt.", 0), 0u);
    fs::Info info{};
    ASSERT_EQ(fs::stat(temp, info), 0);
    EXPECT_EQ(info.mode, 0640u);
    EXPECT_TRUE(info.regular);
    EXPECT_EQ(fs::create_temp_beside(folder / "missing/t.txt", 0640, temp), -ENOENT);
}

TEST(Fs, ListingsLeaveOutDotsAndCountLinksToFoldersAsFolders) {
    const Folder folder;
    ASSERT_EQ(fs::make_dir(folder / "d"), 0);
    std::ofstream(folder / "f") << "x";
    ASSERT_EQ(::symlink((folder / "d").c_str(), (folder / "link").c_str()), 0);
    ASSERT_EQ(::symlink((folder / "nowhere").c_str(), (folder / "dangling").c_str()), 0);
    std::vector<fs::Entry> entries;
    ASSERT_EQ(fs::list_dir(folder.path(), entries), 0);
    std::map<std::string, bool> seen;
    for (const fs::Entry& e : entries) seen[e.name] = e.directory;
    EXPECT_EQ(seen, (std::map<std::string, bool>{{"d", true}, {"dangling", false}, {"f", false}, {"link", true}}));
    entries.clear();
    EXPECT_EQ(fs::list_dir(folder / "missing", entries), -ENOENT);
    EXPECT_EQ(fs::list_dir(folder / "f", entries), -ENOTDIR);
}

class FilesTest : public RuntimeTest {
  protected:
    static Cell file(const std::string& path) {
        const Cell f = string::make(static_cast<uint32_t>(path.size()), TypeId::file);
        stack::push(f);
        string::append_utf8(cell::series_node(f), path);
        return f;
    }
};

// Replacing a file must not replace a link to it by a plain file: the link keeps its target, the
// target gets the content and keeps its permission bits.
TEST_F(FilesTest, AWholeWriteThroughALinkReplacesItsTarget) {
    const Folder folder;
    std::ofstream(folder / "target") << "old";
    ASSERT_EQ(::chmod((folder / "target").c_str(), 0604), 0);
    ASSERT_EQ(::symlink((folder / "target").c_str(), (folder / "link").c_str()), 0);
    const Cell data = string::make(8);
    stack::push(data);
    string::append_utf8(cell::series_node(data), "new");
    (void)files::write(file(folder / "link"), data, WriteOptions{});
    EXPECT_TRUE(fs::is_link(folder / "link"));
    std::string content;
    std::getline(std::ifstream(folder / "target"), content);
    EXPECT_EQ(content, "new");
    fs::Info info{};
    ASSERT_EQ(fs::stat(folder / "target", info), 0);
    EXPECT_EQ(info.mode, 0604u);
    std::vector<fs::Entry> entries;
    ASSERT_EQ(fs::list_dir(folder.path(), entries), 0);
    EXPECT_EQ(entries.size(), 2u);  // no temporary file left
}

}  // namespace
}  // namespace zub
