#include "platform/DirectoryEntries.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>

#include "testing/TempDir.h"

namespace kb {
namespace {

using testing::TempDir;

std::map<std::string, EntryType> listAll(int fd, DirectoryReader& reader) {
    std::map<std::string, EntryType> names;
    reader.start(fd);
    while (const auto entry = reader.next()) {
        names.emplace(entry->name, entry->type);
    }
    EXPECT_FALSE(reader.failed());
    return names;
}

TEST(DirectoryReader, ListsEveryNameBeyondOneBatchWithoutDotEntries) {
    TempDir dir("/dev/shm");
    // Long names make the listing span several reads of the buffer.
    const std::string padding(200, 'p');
    for (int i = 0; i < 2000; ++i) {
        testing::writeFile(dir / (padding + std::to_string(i)), "");
    }
    testing::makeDirectories(dir / "sub");
    ASSERT_EQ(::symlink("/", (dir / "link").c_str()), 0);
    auto fd = openDirectory(dir.path());
    ASSERT_TRUE(fd.ok());
    DirectoryReader reader;
    const auto names = listAll(fd->get(), reader);
    EXPECT_EQ(names.size(), 2002u);
    EXPECT_EQ(names.count("."), 0u);
    EXPECT_EQ(names.count(".."), 0u);
    EXPECT_EQ(names.at(padding + "1999"), EntryType::regular);
    EXPECT_EQ(names.at("sub"), EntryType::directory);
    EXPECT_EQ(names.at("link"), EntryType::symbolicLink);

    // The same reader serves the next directory.
    auto sub = openDirectoryAt(fd->get(), "sub");
    ASSERT_TRUE(sub.ok());
    EXPECT_TRUE(listAll(sub->get(), reader).empty());
}

TEST(OpenDirectory, RefusesSymbolicLinksAndFilesAndReadingAFileFails) {
    TempDir dir;
    testing::makeDirectories(dir / "real");
    testing::writeFile(dir / "file", "x");
    ASSERT_EQ(::symlink((dir / "real").c_str(), (dir / "link").c_str()), 0);
    EXPECT_TRUE(openDirectory(dir / "real").ok());
    EXPECT_FALSE(openDirectory(dir / "link").ok());
    EXPECT_FALSE(openDirectory(dir / "file").ok());
    EXPECT_EQ(openDirectory(dir / "missing").error().code, ENOENT);

    auto parent = openDirectory(dir.path());
    ASSERT_TRUE(parent.ok());
    EXPECT_TRUE(openDirectoryAt(parent->get(), "real").ok());
    EXPECT_FALSE(openDirectoryAt(parent->get(), "link").ok());
    EXPECT_FALSE(openDirectoryAt(parent->get(), "file").ok());

    UniqueFd file(::open((dir / "file").c_str(), O_RDONLY | O_CLOEXEC));
    DirectoryReader reader;
    reader.start(file.get());
    EXPECT_FALSE(reader.next());
    EXPECT_TRUE(reader.failed());
}

}  // namespace
}  // namespace kb
