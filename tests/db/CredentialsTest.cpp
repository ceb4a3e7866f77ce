#include "db/Credentials.h"

#include "DortexTestDatabase.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace movik;
using movik::test::readFile;
using movik::test::storeCredentialText;
using movik::test::TempDir;
using movik::test::writeFile;

namespace {

// A block of filler with the shift byte K at offset 1.
std::string blockWithShift(unsigned char shift, char filler = 'x')
{
    std::string block(credentialsBlockSize, filler);
    block[1] = static_cast<char>(shift);
    return block;
}

class CredentialsTest : public ::testing::Test
{
protected:
    bool read(const std::string& bytes)
    {
        writeFile(path(), bytes);
        return ReadDbCredentials(m_user, m_password, path());
    }
    std::string path() const { return m_dir.file("morvane.tab"); }

    TempDir m_dir;
    std::string m_user = "unset";
    std::string m_password = "unset";
};

TEST_F(CredentialsTest, NoFileOrAShortFileGivesNoCredentials)
{
    EXPECT_FALSE(ReadDbCredentials(m_user, m_password, path()));
    EXPECT_EQ(m_user, "NULL");
    EXPECT_EQ(m_password, "NULL");

    std::string block = blockWithShift(0);
    storeCredentialText(block, 0, 0, "dortex");
    storeCredentialText(block, 0, 96, "secret");
    m_user = m_password = "unset";
    EXPECT_FALSE(read(block.substr(0, 1000)));
    EXPECT_EQ(m_user, "NULL");
    EXPECT_EQ(m_password, "NULL");

    // The same block whole is read: only the length made the difference.
    EXPECT_TRUE(read(block));
    EXPECT_EQ(m_user, "dortex");
    EXPECT_EQ(m_password, "secret");
}

TEST_F(CredentialsTest, DecodesTheDocumentedExample)
{
    // K = 0, offsets 2, 5 and 8 hold 96, 97 and 0: 96+0+1 = 'a', 97+0+2 = 'c'.
    std::string block = blockWithShift(0);
    block[2] = 96;
    block[5] = 97;
    block[8] = 0;
    block[98] = 0;
    EXPECT_TRUE(read(block));
    EXPECT_EQ(m_user, "ac");
    EXPECT_EQ(m_password, "NULL"); // an empty password stays "NULL"
}

TEST_F(CredentialsTest, AFirstUserByteOfZeroGivesAnEmptyUser)
{
    std::string block = blockWithShift(200);
    block[202] = 0;
    storeCredentialText(block, 200, 96, "pw");
    EXPECT_TRUE(read(block));
    EXPECT_EQ(m_user, "");
    EXPECT_EQ(m_password, "pw");
}

TEST_F(CredentialsTest, ADecodedZeroDoesNotEndTheText)
{
    // Stored 245 with K = 10 at i = 1 decodes to (245 + 10 + 1) mod 256 = 0.
    std::string block = blockWithShift(10);
    storeCredentialText(block, 10, 0, std::string("\0xy", 3));
    ASSERT_EQ(static_cast<unsigned char>(block[12]), 245);
    storeCredentialText(block, 10, 96, "p");
    EXPECT_TRUE(read(block));
    EXPECT_EQ(m_user, std::string("\0xy", 3));
    EXPECT_EQ(m_password, "p");
}

TEST_F(CredentialsTest, ThirtyTwoCharactersNeedNoEnd)
{
    // The highest shift puts the last password byte at 446, inside the block.
    const std::string user(32, 'u');
    const std::string password(32, 'p');
    std::string block = blockWithShift(255, '\x01');
    storeCredentialText(block, 255, 0, user, false);
    storeCredentialText(block, 255, 96, password, false);
    EXPECT_TRUE(read(block));
    EXPECT_EQ(m_user, user);
    EXPECT_EQ(m_password, password);
}

TEST_F(CredentialsTest, AReadOnlyFileStillGivesItsLogin)
{
    std::string block = blockWithShift(33);
    storeCredentialText(block, 33, 0, "dortex");
    storeCredentialText(block, 33, 96, "secret");
    writeFile(path(), block);
    ASSERT_EQ(::chmod(path().c_str(), 0444), 0);

    if (::geteuid() != 0) {
        EXPECT_TRUE(ReadDbCredentials(m_user, m_password, path()));
        EXPECT_EQ(m_user, "dortex");
        EXPECT_EQ(m_password, "secret");
        return;
    }
    // Root may write any file: read as "nobody", who may only read it.
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(3);
        std::string user;
        std::string password;
        const bool ok = ReadDbCredentials(user, password, path());
        ::_exit(ok && user == "dortex" && password == "secret" ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "exit 1: no login read; exit 3: could not become nobody";
}

// Random bytes from a fixed list first, then from a seeded generator.
struct ByteSource
{
    std::vector<std::uint8_t> first;
    std::mt19937 generator{7};
    std::size_t next = 0;
    std::uint8_t operator()()
    {
        if (next < first.size())
            return first[next++];
        return static_cast<std::uint8_t>(generator() % 256);
    }
};

TEST_F(CredentialsTest, EncodedBlocksReadBack)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"dortex", "s3cr3t;'\"x"},
        {"", "only-password"},
        {std::string(32, 'U'), std::string(32, '\xff')},
        {"user", ""}};
    for (unsigned seed = 1; seed <= 50; ++seed) {
        for (const auto& [user, password] : cases) {
            ByteSource source;
            source.generator.seed(seed);
            std::string block;
            std::string error;
            ASSERT_TRUE(encodeDbCredentials(user, password, std::ref(source), block, error)) << error;
            ASSERT_EQ(block.size(), credentialsBlockSize);
            ASSERT_TRUE(read(block));
            EXPECT_EQ(m_user, user) << "seed " << seed;
            EXPECT_EQ(m_password, password.empty() ? "NULL" : password) << "seed " << seed;
        }
    }
}

TEST_F(CredentialsTest, EncodingSkipsAShiftThatWouldStoreAZero)
{
    // With K = 96 the 'a' at i = 1 would be stored as 97 - 96 - 1 = 0 and
    // cut the name short; with K = 97 the password's 'c' at i = 2 would.
    ByteSource source;
    source.first = {96, 97, 17};
    std::string block;
    std::string error;
    ASSERT_TRUE(encodeDbCredentials("ab", "xc", std::ref(source), block, error)) << error;
    EXPECT_EQ(static_cast<unsigned char>(block[1]), 17);
    ASSERT_TRUE(read(block));
    EXPECT_EQ(m_user, "ab");
    EXPECT_EQ(m_password, "xc");
}

TEST_F(CredentialsTest, EncodingRefusesLongTextsAndTheUserNull)
{
    ByteSource source;
    std::string block;
    std::string error;
    EXPECT_FALSE(encodeDbCredentials(std::string(33, 'u'), "pw", std::ref(source), block, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(encodeDbCredentials("user", std::string(33, 'p'), std::ref(source), block, error));
    EXPECT_FALSE(encodeDbCredentials("NULL", "pw", std::ref(source), block, error));
    EXPECT_NE(error.find("NULL"), std::string::npos);
    EXPECT_TRUE(encodeDbCredentials("null", "pw", std::ref(source), block, error)) << error;
}

// Runs the tool with arguments, feeding it input (one line) when given.
int runTool(const std::string& arguments, const std::string& input = {})
{
    std::string command = std::string(MOVIK_MKTAB_PROGRAM) + " " + arguments + " 2>/dev/null";
    if (!input.empty())
        command = "printf '%s\\n' '" + input + "' | " + command;
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The tool writes what the program reads, the password from its argument or
// from standard input; what could not be read back it refuses to write.
TEST_F(CredentialsTest, TheToolWritesAFileTheProgramReads)
{
    ASSERT_EQ(runTool("-o '" + path() + "' dortex 'pass word'"), 0);
    EXPECT_EQ(readFile(path()).size(), credentialsBlockSize);
    EXPECT_TRUE(ReadDbCredentials(m_user, m_password, path()));
    EXPECT_EQ(m_user + ":" + m_password, "dortex:pass word");
    ASSERT_EQ(runTool("-o '" + path() + "' importer", "from-stdin"), 0);
    EXPECT_TRUE(ReadDbCredentials(m_user, m_password, path()));
    EXPECT_EQ(m_user + ":" + m_password, "importer:from-stdin");

    const std::string other = m_dir.file("other.tab");
    for (const std::string& arguments :
         {std::string(" NULL secret"), " " + std::string(33, 'u') + " secret", std::string()})
        EXPECT_NE(runTool("-o '" + other + "'" + arguments), 0) << arguments;
    EXPECT_FALSE(std::ifstream(other).good());
}

} // namespace
