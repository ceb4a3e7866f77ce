// Linux has no sharing modes: a file some process still has open for writing
// is recognised by a read-lease probe and refused.
#include "TempDir.h"
#include "core/TextFile.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

using namespace movik;
using namespace movik::test;

namespace {

// A second process that holds path open for writing until release() is called.
class Writer
{
public:
    explicit Writer(const std::string& path)
    {
        int ready[2];
        if (pipe(ready) != 0 || pipe(m_release) != 0)
            throw std::runtime_error("pipe");
        m_pid = fork();
        if (m_pid == 0) {
            close(ready[0]);
            close(m_release[1]);
            int fd = open(path.c_str(), O_WRONLY | O_APPEND);
            (void)!write(fd, "more", 4);
            (void)!write(ready[1], "r", 1);
            char c;
            (void)!read(m_release[0], &c, 1);
            close(fd);
            _exit(0);
        }
        close(ready[1]);
        close(m_release[0]);
        char c;
        (void)!read(ready[0], &c, 1);
        close(ready[0]);
    }
    ~Writer() { release(); }
    void release()
    {
        if (m_pid > 0) {
            close(m_release[1]);
            waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
    }

private:
    pid_t m_pid = -1;
    int m_release[2] = {-1, -1};
};

} // namespace

TEST(TextFilePosix, FileOpenForWritingIsRefusedUntilClosed)
{
    TempDir dir;
    writeFile(dir.file("answer"), "[1,\r\n2]");
    std::string text, error;
    {
        Writer writer(dir.file("answer"));
        EXPECT_FALSE(readTextFile(dir.file("answer"), text, error));
        EXPECT_EQ(error, "I/O error 11");
        EXPECT_EQ(text, "");
    }
    EXPECT_TRUE(readTextFile(dir.file("answer"), text, error)) << error;
    EXPECT_EQ(text, "[1,2]more");
}

TEST(TextFilePosix, WriterOpeningDuringProbesDoesNotHurt)
{
    TempDir dir;
    writeFile(dir.file("answer"), "x");
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        for (int i = 0; i < 3000; ++i) {
            int fd = open(dir.file("answer").c_str(), O_WRONLY);
            if (fd >= 0)
                close(fd);
        }
        _exit(0);
    }
    int refused = 0;
    for (int i = 0; i < 3000; ++i) {
        std::string text, error;
        if (!readTextFile(dir.file("answer"), text, error))
            ++refused;
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    SUCCEED() << refused << " probes saw the writer";
}

TEST(TextFilePosix, ReadFailurePartWay)
{
    // A directory opens for reading but cannot be read.
    TempDir dir;
    std::filesystem::create_directory(dir.file("d"));
    std::string text, error;
    EXPECT_FALSE(readTextFile(dir.file("d"), text, error));
    EXPECT_EQ(error, "I/O error 21");
}
