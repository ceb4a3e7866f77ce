// The instance lock: one holder at a time, the holder's process id readable
// by whoever is refused, released with its holder; and owner-only files.
#include "platform/InstanceLock.h"
#include "TempDir.h"
#include "platform/Platform.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#ifdef _WIN32
#include <windows.h>
#endif

using namespace movik;
using namespace movik::test;
namespace fs = std::filesystem;

using Result = platform::InstanceLock::Result;

TEST(InstanceLockTest, SecondTakerIsToldWhoHoldsIt)
{
    TempDir dir;
    const std::string path = dir.file("movik.lock");
    std::string holder;
    int error = 0;
    {
        platform::InstanceLock first;
        ASSERT_EQ(first.take(path, holder, error), Result::Taken);
        EXPECT_TRUE(first.held());
        platform::InstanceLock second;
        EXPECT_EQ(second.take(path, holder, error), Result::Held);
        EXPECT_EQ(holder, platform::currentProcessId());
        EXPECT_FALSE(second.held());
    }
    platform::InstanceLock third;
    EXPECT_EQ(third.take(path, holder, error), Result::Taken) << "released with its holder";
    EXPECT_EQ(holder, "");
}

#ifdef _WIN32
TEST(InstanceLockTest, AFileThatMayNotBeWrittenIsHeldForReading)
{
    // What another account meets where the lock file is not its own: it
    // may read it, not write it.
    TempDir dir;
    const std::string path = dir.file("movik.lock");
    std::string holder;
    int error = 0;
    auto first = std::make_unique<platform::InstanceLock>();
    ASSERT_EQ(first->take(path, holder, error), Result::Taken);
    ASSERT_TRUE(::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
    platform::InstanceLock second;
    EXPECT_EQ(second.take(path, holder, error), Result::Held) << error;

    first.reset();
    auto reader = std::make_unique<platform::InstanceLock>();
    EXPECT_EQ(reader->take(path, holder, error), Result::Taken) << error;
    platform::InstanceLock writer;
    EXPECT_EQ(writer.take(path, holder, error), Result::Held) << "the reader keeps everyone out";
    reader.reset();
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}
#endif

TEST(InstanceLockTest, LockThatCannotBeMadeFails)
{
    TempDir dir;
    platform::InstanceLock lock;
    std::string holder;
    int error = 0;
    EXPECT_EQ(lock.take(dir.file("gone/movik.lock"), holder, error), Result::Failed);
    EXPECT_NE(error, 0);
    EXPECT_FALSE(lock.held());
}

TEST(ReplaceFileTest, WritesTheWholeTextAnewForTheOwnerOnly)
{
    TempDir dir;
    std::string error;
    writeFile(dir.file("secret"), "an older and longer text");
    ASSERT_TRUE(platform::replaceFile(dir.file("secret"), "line\n", error)) << error;
    EXPECT_EQ(readFile(dir.file("secret")), "line\n");
#ifndef _WIN32
    // The older file had the usual wider mode.
    EXPECT_EQ(fs::status(dir.file("secret")).permissions() & fs::perms::mask,
              fs::perms::owner_read | fs::perms::owner_write);
#endif
    fs::create_directory(dir.file("in-the-way"));
    EXPECT_FALSE(platform::replaceFile(dir.file("in-the-way"), "line\n", error));
    EXPECT_FALSE(error.empty());

    // Written under a name of its own, never through one made ready for it.
    writeFile(dir.file("other"), "another file");
    fs::create_directory(dir.file("status.tmp"));
#ifndef _WIN32
    fs::create_symlink(dir.file("other"), dir.file("journal.tmp"));
#endif
    for (const char* name : {"status", "journal"})
        ASSERT_TRUE(platform::replaceFile(dir.file(name), "new\n", error, platform::FileReaders::Everyone,
                                          platform::FileFlush::Cached))
            << error;
    EXPECT_EQ(readFile(dir.file("status")), "new\n");
    EXPECT_EQ(readFile(dir.file("other")), "another file");
    for (const auto& entry : fs::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
}
