#include "db/AliasFile.h"

#include "TempDir.h"

#include <gtest/gtest.h>

using namespace movik;
using movik::test::TempDir;
using movik::test::writeFile;

namespace {

class AliasFileTest : public ::testing::Test
{
protected:
    bool read(const std::string& content)
    {
        writeFile(m_dir.file("aliases.ini"), content);
        return readDatabaseAlias(m_dir.file("aliases.ini"), "Morvane", m_alias, m_error);
    }

    TempDir m_dir;
    DatabaseAlias m_alias;
    std::string m_error;
};

TEST_F(AliasFileTest, ReadsEveryKeyOfAPostgresAlias)
{
    ASSERT_TRUE(read("; access-control database\r\n"
                     "[Other]\r\nDriver=sqlite\r\nDatabase=other.db\r\n"
                     "[morvane]\r\n"
                     "driver = PostgreSQL\r\n"
                     "Database=dortex\r\n"
                     "Server=db.example.local\r\n"
                     "Port=5433\r\n"
                     "User Name=dortex\r\n"
                     "Options=connect_timeout=3;sslmode=require\r\n"))
        << m_error;
    EXPECT_EQ(m_alias.driver, AliasDriver::Postgresql);
    EXPECT_EQ(m_alias.database, "dortex");
    EXPECT_EQ(m_alias.server, "db.example.local");
    EXPECT_EQ(m_alias.port, 5433);
    EXPECT_TRUE(m_alias.hasUserName);
    EXPECT_EQ(m_alias.userName, "dortex");
    // Options are passed through whole, semicolons included.
    EXPECT_EQ(m_alias.options, "connect_timeout=3;sslmode=require");
}

TEST_F(AliasFileTest, KeepsAnOdbcConnectionStringWhole)
{
    ASSERT_TRUE(
        read("[Morvane]\nDriver=odbc\n"
             "Database=DRIVER={ODBC Driver 18 for SQL Server};SERVER=sql01;DATABASE=dortex;Encrypt=no\n"))
        << m_error;
    EXPECT_EQ(m_alias.driver, AliasDriver::Odbc);
    EXPECT_EQ(m_alias.database,
              "DRIVER={ODBC Driver 18 for SQL Server};SERVER=sql01;DATABASE=dortex;Encrypt=no");
    EXPECT_EQ(m_alias.port, 0);
    EXPECT_FALSE(m_alias.hasUserName);
}

TEST_F(AliasFileTest, TellsAnEmptyUserNameFromNone)
{
    // Saved by Notepad as UTF-8: the mark does not hide the first section.
    ASSERT_TRUE(read("\xEF\xBB\xBF[Morvane]\nDriver=sqlite\nDatabase=dortex.db\nUser Name=\n")) << m_error;
    EXPECT_EQ(m_alias.encoding, TextEncoding::Utf8WithMark);
    EXPECT_TRUE(m_alias.hasUserName);
    EXPECT_EQ(m_alias.userName, "");
}

// What is refused, and the part of the reason that names why.
TEST_F(AliasFileTest, RefusesAnAliasItCannotUse)
{
    EXPECT_FALSE(readDatabaseAlias(m_dir.file("aliases.ini"), "Morvane", m_alias, m_error));
    EXPECT_NE(m_error.find("Unknown database alias \"Morvane\": cannot read " + m_dir.file("aliases.ini")),
              std::string::npos)
        << m_error;
    const std::pair<std::string, const char*> rows[] = {
        {"[Morvan]\nDriver=sqlite\nDatabase=dortex.db\n", "no section [Morvane]"},
        {"[Morvane]\nDatabase=dortex.db\n", "Unknown database alias \"Morvane\""},
        {"[Morvane]\nDriver=paradox\nDatabase=dortex.db\n", "\"paradox\""},
        {"[Morvane]\nDriver=sqlite\nDatabase=\n", "no Database"},
        {"[Morvane]\nDriver=postgresql\nDatabase=dortex\nPort=54a\n", "Port"},
        {"[Morvane]\nDriver=postgresql\nDatabase=dortex\nPort=0\n", "Port"},
        {"[Morvane]\nDriver=postgresql\nDatabase=dortex\nPort=65536\n", "Port"},
        {"[Morvane]\nDriver=postgresql\nDatabase=dortex\nPort=-1\n", "Port"},
        {"[Morvane]\nDriver=postgresql\nDatabase=dortex\nPort=123456\n", "Port"},
    };
    for (const auto& [content, why] : rows) {
        EXPECT_FALSE(read(content)) << content;
        EXPECT_NE(m_error.find(why), std::string::npos) << m_error;
    }
    EXPECT_TRUE(read("[Morvane]\nDriver=postgresql\nDatabase=dortex\nPort=65535\n")) << m_error;
    EXPECT_EQ(m_alias.port, 65535);
}

} // namespace
