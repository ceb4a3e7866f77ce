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

TEST_F(AliasFileTest, AnAliasTheFileDoesNotDefineIsUnknown)
{
    EXPECT_FALSE(readDatabaseAlias(m_dir.file("aliases.ini"), "Morvane", m_alias, m_error));
    EXPECT_NE(m_error.find("Unknown database alias \"Morvane\""), std::string::npos) << m_error;
    EXPECT_NE(m_error.find(m_dir.file("aliases.ini")), std::string::npos) << m_error;

    EXPECT_FALSE(read("[Morvan]\nDriver=sqlite\nDatabase=dortex.db\n"));
    EXPECT_NE(m_error.find("no section [Morvane]"), std::string::npos) << m_error;

    EXPECT_FALSE(read("[Morvane]\nDatabase=dortex.db\n"));
    EXPECT_NE(m_error.find("Unknown database alias \"Morvane\""), std::string::npos) << m_error;

    EXPECT_FALSE(read("[Morvane]\nDriver=paradox\nDatabase=dortex.db\n"));
    EXPECT_NE(m_error.find("\"paradox\""), std::string::npos) << m_error;
}

TEST_F(AliasFileTest, RefusesAnAliasWithoutDatabaseOrWithABadPort)
{
    EXPECT_FALSE(read("[Morvane]\nDriver=sqlite\nDatabase=\n"));
    EXPECT_NE(m_error.find("no Database"), std::string::npos) << m_error;

    for (const char* port : {"54a", "0", "65536", "-1", "123456"}) {
        EXPECT_FALSE(read(std::string("[Morvane]\nDriver=postgresql\nDatabase=dortex\nPort=") + port + "\n"))
            << port;
        EXPECT_NE(m_error.find("Port"), std::string::npos) << m_error;
    }
    EXPECT_TRUE(read("[Morvane]\nDriver=postgresql\nDatabase=dortex\nPort=65535\n")) << m_error;
    EXPECT_EQ(m_alias.port, 65535);
}

} // namespace
