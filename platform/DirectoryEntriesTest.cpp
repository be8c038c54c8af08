#include "platform/DirectoryEntries.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <string>

#include "testing/TempDir.h"

namespace kb {
namespace {

std::map<std::string, EntryType> listAll(int fd, DirectoryReader& reader) {
    std::map<std::string, EntryType> names;
    reader.start(fd);
    while (const auto entry = reader.next()) {
        names.emplace(entry->name, entry->type);
    }
    EXPECT_FALSE(reader.failed());
    return names;
}

// One directory, in memory: long names make the listing span several reads of the buffer.
TEST(DirectoryEntries, ListsEveryNameBeyondOneBatchAndOpensNoLinkOrFileAsADirectory) {
    testing::TempDir dir("/dev/shm");
    const std::string padding(200, 'p');
    for (int i = 0; i < 2000; ++i) {
        testing::writeFile(dir / (padding + std::to_string(i)), "");
    }
    testing::makeDirectories(dir / "sub");
    ASSERT_EQ(::symlink((dir / "sub").c_str(), (dir / "link").c_str()), 0);
    auto fd = openDirectory(dir.path());
    ASSERT_TRUE(fd.ok());
    DirectoryReader reader;
    const auto names = listAll(fd->get(), reader);
    EXPECT_EQ(names.size(), 2002u);
    EXPECT_EQ(names.at(padding + "1999"), EntryType::regular);
    EXPECT_EQ(names.at("sub"), EntryType::directory);
    EXPECT_EQ(names.at("link"), EntryType::symbolicLink);

    // The same reader serves the next directory.
    auto sub = openDirectoryAt(fd->get(), "sub");
    ASSERT_TRUE(sub.ok());
    EXPECT_TRUE(listAll(sub->get(), reader).empty());

    const std::string file = padding + "0";
    EXPECT_FALSE(openDirectory(dir / "link").ok());
    EXPECT_FALSE(openDirectory(dir / file).ok());
    EXPECT_EQ(openDirectory(dir / "missing").error().code, ENOENT);
    EXPECT_FALSE(openDirectoryAt(fd->get(), "link").ok());
    EXPECT_FALSE(openDirectoryAt(fd->get(), file.c_str()).ok());
    UniqueFd opened(::open((dir / file).c_str(), O_RDONLY | O_CLOEXEC));
    reader.start(opened.get());
    EXPECT_FALSE(reader.next());
    EXPECT_TRUE(reader.failed());
}

}  // namespace
}  // namespace kb
