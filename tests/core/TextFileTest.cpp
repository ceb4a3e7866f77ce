// The text-file line rule shared by the key file and the answer files.
#include "core/TextFile.h"
#include "TempDir.h"

#include <gtest/gtest.h>

using namespace movik;
using namespace movik::test;

namespace {

std::string readBack(const std::string& bytes)
{
    TempDir dir;
    writeFile(dir.file("f"), bytes);
    std::string text, error;
    EXPECT_TRUE(readTextFile(dir.file("f"), text, error)) << error;
    return text;
}

} // namespace

TEST(TextFile, LineRule)
{
    EXPECT_EQ(readBack("ab\r\ncd\r\nef\r\n"), "abcdef");
    EXPECT_EQ(readBack("ab\ncd\nef\n"), "ab\ncd\nef\n") << "a lone LF is an ordinary character";
    EXPECT_EQ(readBack("ab\rcd\r\r\nef"), "abcdef") << "a CR takes at most one LF with it";
    EXPECT_EQ(readBack("ab\r\n\ncd"), "ab\ncd");
    EXPECT_EQ(readBack("ab\x1a"
                       "cd\r\nef"),
              "ab")
        << "Ctrl-Z ends the text";
    EXPECT_EQ(readBack("ab\r\ncd\x1a\r\n"), "abcd");
    EXPECT_EQ(readBack(""), "");
    EXPECT_EQ(readBack(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(TextFile, LongLinesAndBlockBoundaries)
{
    std::string longLine(3 * 1024 * 1024, 'x');
    EXPECT_EQ(readBack(longLine + "\r\nend"), longLine + "end");

    // A CR LF split across the reader's blocks still counts as one line end.
    for (std::size_t at : {65535u, 65536u, 131071u}) {
        std::string bytes(at, 'y');
        bytes += "\r\nz";
        EXPECT_EQ(readBack(bytes), std::string(at, 'y') + "z") << at;
    }
}

TEST(TextFile, JoinerKeepsCompletedLinesApart)
{
    LineJoiner joiner;
    EXPECT_TRUE(joiner.feed("ab\r", 3));
    EXPECT_TRUE(joiner.feed("\ncd", 3));
    EXPECT_EQ(joiner.completedLines(), "ab");
    EXPECT_EQ(joiner.finish(), "abcd");
    EXPECT_FALSE(joiner.feed("e\x1a"
                             "f",
                             3));
    EXPECT_FALSE(joiner.feed("g", 1)) << "nothing after Ctrl-Z counts";
    EXPECT_EQ(joiner.finish(), "abcde");
}

TEST(TextFile, MissingFile)
{
    TempDir dir;
    std::string text = "old", error;
    EXPECT_FALSE(readTextFile(dir.file("missing"), text, error));
    EXPECT_EQ(text, "");
    EXPECT_EQ(error, "File not found");
}

TEST(GetResult, ReadsWholeFile)
{
    TempDir dir;
    useProgramDirectory(dir);
    std::string text = "old";
    EXPECT_FALSE(GetResult(dir.file("_$WAVL"), text));
    EXPECT_EQ(text, "");
    EXPECT_EQ(logMessages(dir), "") << "a missing file is no failure to log";

    writeFile(dir.file("_$WAVL"), "[{\"a\":1},\r\n{\"b\":2}]\n");
    EXPECT_TRUE(GetResult(dir.file("_$WAVL"), text));
    EXPECT_EQ(text, "[{\"a\":1},{\"b\":2}]\n");
}
