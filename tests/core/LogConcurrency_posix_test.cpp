// Two processes appending to one log lose and interleave no line.
#include "TempDir.h"
#include "core/Log.h"

#include <gtest/gtest.h>

#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

using namespace movik;
using namespace movik::test;

TEST(WriteLogPosix, TwoProcessesLoseNoLine)
{
    TempDir dir;
    useProgramDirectory(dir);
    constexpr int linesEach = 2000;
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            for (int i = 0; i < linesEach; ++i)
                WriteLog(999, "process " + std::to_string(c) + " line " + std::to_string(i) +
                                  std::string(40, 'x'));
            _exit(0);
        }
    }
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::istringstream messages(logMessages(dir));
    int count[2] = {0, 0};
    int next[2] = {0, 0};
    std::string line;
    while (std::getline(messages, line)) {
        int c = -1, i = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "process %d line %d", &c, &i), 2) << line;
        ASSERT_TRUE(c == 0 || c == 1);
        EXPECT_EQ(i, next[c]) << "lines of one process stay in order";
        EXPECT_EQ(line, "process " + std::to_string(c) + " line " + std::to_string(i) + std::string(40, 'x'));
        next[c] = i + 1;
        ++count[c];
    }
    EXPECT_EQ(count[0], linesEach);
    EXPECT_EQ(count[1], linesEach);
}
