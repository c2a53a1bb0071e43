// The file layer's own promises, for every file the program writes through it:
// a name that is taken is never opened, a read says why it failed, a lock is
// one program's at a time, and a replaced file keeps its mode.

#include "files/FileSystem.h"

#include "support/TemporaryFolder.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
using files::FileStatus;
using namespace std::chrono_literals;

TEST(FileSystem, EveryFailureSaysWhatWentWrong) {
    TemporaryFolder scratch{"onyx-files"};
    const fs::path file = scratch.Path() / "kept.bin";
    std::ofstream(file, std::ios::binary) << "old";
    fs::create_directory(scratch.Path() / "folder");

    std::string bytes = "untouched";
    const struct {
        const char* name;
        files::FileResult result;
        FileStatus status;
    } cases[] = {
        {"read missing", files::ReadWholeFile(scratch.Path() / "none", bytes),
         FileStatus::NotFound},
        {"read folder", files::ReadWholeFile(scratch.Path() / "folder", bytes), FileStatus::Failed},
        {"create taken",
         [&] {
             files::File taken;
             return files::CreateNewFile(file, taken);
         }(),
         FileStatus::Exists},
        {"replace in missing folder",
         files::ReplaceFileContents(scratch.Path() / "none" / "x", "new"), FileStatus::NotFound},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.result.status, c.status) << c.name;
        EXPECT_FALSE(c.result.reason.empty()) << c.name;
    }
    EXPECT_EQ(bytes, "untouched");
    ASSERT_TRUE(files::ReadWholeFile(file, bytes));
    EXPECT_EQ(bytes, "old");
}

TEST(FileSystem, ALockIsOneHoldersAtATime) {
    TemporaryFolder scratch{"onyx-files"};
    const fs::path lockFile = scratch.Path() / "x.lock";
    files::FileLock first;
    ASSERT_TRUE(files::LockFile(lockFile, first, 0ms));
    files::FileLock second;
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(files::LockFile(lockFile, second, 100ms).status, FileStatus::Busy);
    EXPECT_GE(std::chrono::steady_clock::now() - before, 100ms);
    EXPECT_FALSE(second.Held());
    first.Release();
    EXPECT_TRUE(files::LockFile(lockFile, second, 0ms));
}

TEST(FileSystem, AReplacedFileKeepsItsModeAndAReadOnlyOneStays) {
    TemporaryFolder scratch{"onyx-files"};
    const fs::path file = scratch.Path() / "kept.bin";
    std::ofstream(file, std::ios::binary) << "old";
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_TRUE(files::ReplaceFileContents(file, "new"));
    EXPECT_EQ(fs::status(file).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    fs::permissions(file, fs::perms::owner_read);
    EXPECT_EQ(files::ReplaceFileContents(file, "newer").status, FileStatus::ReadOnly);
    fs::permissions(file, fs::perms::owner_all);
    std::string bytes;
    ASSERT_TRUE(files::ReadWholeFile(file, bytes));
    EXPECT_EQ(bytes, "new");
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch.Path()), fs::directory_iterator()), 1);
}

// A file opened exclusively: kept as it is until truncated, one holder at a time,
// and removed by its holder.
TEST(FileSystem, AnExclusiveFileIsKeptUntilTruncatedAndHeldByOne) {
    TemporaryFolder scratch{"onyx-files"};
    const fs::path kept = scratch.Path() / "kept.bin";
    std::ofstream(kept, std::ios::binary) << "earlier, longer";
    const struct {
        fs::path path;
        bool created;
    } cases[] = {{kept, false}, {scratch.Path() / "new.bin", true}};
    for (const auto& c : cases) {
        files::File file;
        bool created = !c.created;
        ASSERT_TRUE(files::OpenExclusive(c.path, file, created)) << c.path;
        EXPECT_EQ(created, c.created) << c.path;
        files::File second;
        EXPECT_FALSE(files::OpenExclusive(c.path, second, created)) << c.path;
        EXPECT_FALSE(second.IsOpen());
        ASSERT_TRUE(file.Close());
        std::string bytes;
        ASSERT_TRUE(files::ReadWholeFile(c.path, bytes)) << c.path;
        EXPECT_EQ(bytes, c.created ? "" : "earlier, longer");

        ASSERT_TRUE(files::OpenExclusive(c.path, file, created));
        EXPECT_FALSE(created) << "the second time it exists";
        ASSERT_TRUE(file.Truncate() && file.Write("new") && file.Write("er"));
        ASSERT_TRUE(file.Close());
        ASSERT_TRUE(files::ReadWholeFile(c.path, bytes));
        EXPECT_EQ(bytes, "newer");
        EXPECT_NE(file.Write("x").systemError, 0) << "a closed file is not written";
    }
    files::File file;
    bool created = false;
    ASSERT_TRUE(files::OpenExclusive(kept, file, created));
    EXPECT_TRUE(files::RemoveOpenFile(file, kept));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_FALSE(fs::exists(kept));
}

// A file of the program's own beside another one fits wherever that one's name
// fits: its short name is no longer than the other's (two characters at the
// least, 13 at the most), and the fresh file replaces the other one held open.
TEST(FileSystem, ShortNamesBesideAFileFitWhereItsNameFits) {
    TemporaryFolder scratch{"onyx-files"};
    for (const std::size_t length : {1u, 2u, 5u, 13u, 255u}) {
        const fs::path target = scratch.Path() / std::string(length, 't');
        std::ofstream(target, std::ios::binary) << "old";
        fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
        files::File old;
        bool created = true;
        ASSERT_TRUE(files::OpenExclusive(target, old, created));
        files::File fresh;
        fs::path freshPath;
        ASSERT_TRUE(files::CreateShortFileBeside(target, fresh, freshPath)) << length;
        const std::string name = freshPath.filename().string();
        EXPECT_EQ(name.size(), std::clamp<std::size_t>(length, 2, 13)) << name;
        EXPECT_EQ(name.front(), '~');
        EXPECT_EQ(freshPath.parent_path(), scratch.Path());
        ASSERT_TRUE(fresh.Write("new"));
        ASSERT_TRUE(files::MoveOver(fresh, freshPath, old, target)) << length;
        EXPECT_FALSE(fresh.IsOpen() || old.IsOpen());
        std::string bytes;
        ASSERT_TRUE(files::ReadWholeFile(target, bytes));
        EXPECT_EQ(bytes, "new");
        EXPECT_EQ(fs::status(target).permissions(), fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_FALSE(fs::exists(freshPath));
        fs::remove(target);
    }
}

} // namespace
