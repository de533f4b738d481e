#include "core/IniFile.h"

#include "core/Cp1251.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace ostrel {
namespace {

using Keys = std::vector<std::string>;

std::string cp(const char* utf8)
{
    return utf8ToCp1251(utf8);
}

class IniFileOnDisk : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = std::filesystem::path(::testing::TempDir()) / ("ostrel_core_ini_" + std::to_string(getpid()));
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::string write(const std::string& bytes)
    {
        const auto path = (m_dir / "Ostrel.ini").string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    std::filesystem::path m_dir;
};

TEST_F(IniFileOnDisk, MissingOrUnreadableFileIsNoFile)
{
    EXPECT_FALSE(IniFile::load((m_dir / "absent.ini").string()));
    EXPECT_FALSE(IniFile::load(m_dir.string())); // a folder opens but cannot be read
    const auto empty = IniFile::load(write(""));
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->keys("Server").empty());
}

TEST_F(IniFileOnDisk, Utf8FileWithByteOrderMarkAndWindowsLineEnds)
{
    const auto ini = IniFile::load(write("\xEF\xBB\xBF[Server]\r\nNet=0\r\n[Price]\r\nЧас=30\r\nНочь=100,5\r\n"));
    ASSERT_TRUE(ini);
    EXPECT_EQ(ini->value("Server", "Net"), "0");
    EXPECT_EQ(ini->keys("Price"), (Keys{cp("Час"), cp("Ночь")}));
    EXPECT_EQ(ini->value("Price", cp("Ночь")), "100,5");
}

TEST_F(IniFileOnDisk, Cp1251FileIsTakenAsItIs)
{
    const auto ini = IniFile::load(write(cp("[Game]\r\nИгра Ёлка=15\r\n")));
    ASSERT_TRUE(ini);
    EXPECT_EQ(ini->keys("Game"), Keys{cp("Игра Ёлка")});
    EXPECT_EQ(ini->value("GAME", cp("игра ёлка")), "15"); // Cyrillic letter case ignored as well
}

TEST(IniFile, SectionsAndKeysIgnoreLetterCase)
{
    const auto ini = IniFile::fromText("[SERVER]\nnet=1\nServerTCP = 8000 \n");
    EXPECT_EQ(ini.value("Server", "NET"), "1");
    EXPECT_EQ(ini.value("server", "servertcp"), "8000");
    EXPECT_EQ(ini.keys("Server"), (Keys{"net", "ServerTCP"}));
}

TEST(IniFile, EmptyValuesRepeatedNamesAndAbsentKeys)
{
    const auto ini = IniFile::fromText("[Price]\nA=10\nB=\nA=20\na=30\n");
    EXPECT_EQ(ini.keys("Price"), (Keys{"A", "B", "A", "a"}));
    EXPECT_EQ(ini.value("Price", "A"), "10"); // the first occurrence
    EXPECT_EQ(ini.value("Price", "B"), "");
    EXPECT_FALSE(ini.value("Price", "C"));
    EXPECT_EQ(ini.value("Price", "C", "ERROR"), "ERROR");
    EXPECT_EQ(ini.value("Price", "B", "ERROR"), "");
    EXPECT_TRUE(ini.keys("Game").empty());
    EXPECT_FALSE(ini.value("Game", "A"));
}

TEST(IniFile, ReadsLinesAsTheWindowsServiceDoes)
{
    const std::string longLine = "Long=" + std::string(300, 'x');
    const auto ini = IniFile::fromText("[Price]\n"
                                       "not a pair\n"
                                       "  Indented=1\n"
                                       "  AlsoIndented=2\n" // not a continuation of the line above
                                       "; Commented=3\n"
                                       "# Hashed=4\n"
                                       "VIP: night=30 ;x\n" // ':' and ';' belong to the name and the value
                                       "[ Empty ]\n"
                                       "[Game]\n" +
                                       longLine + "\nAfterLong=5\n");
    EXPECT_EQ(ini.keys("Price"), (Keys{"Indented", "AlsoIndented", "VIP: night"}));
    EXPECT_EQ(ini.value("Price", "AlsoIndented"), "2");
    EXPECT_EQ(ini.value("Price", "VIP: night"), "30 ;x");
    EXPECT_TRUE(ini.keys("Empty").empty());
    EXPECT_EQ(ini.keys("Game"), Keys{"AfterLong"});
    EXPECT_EQ(IniFile::fromText("[ Price ]\nA=1\n").value("price", "a"), "1");

    const auto quoted = IniFile::fromText("[Q]\nA=\"10\"\nB='x y'\nC=\"x\nD=\"\"\nE=\"\n");
    EXPECT_EQ(quoted.value("Q", "A"), "10");
    EXPECT_EQ(quoted.value("Q", "B"), "x y");
    EXPECT_EQ(quoted.value("Q", "C"), "\"x");
    EXPECT_EQ(quoted.value("Q", "D"), "");
    EXPECT_EQ(quoted.value("Q", "E"), "\"");
}

TEST(IniFile, InvalidUtf8IsCp1251AndStrayControlBytesDoNotLeak)
{
    // Valid UTF-8 is converted; one byte that is not UTF-8 makes the whole file Windows-1251.
    EXPECT_EQ(IniFile::fromText("[P]\nЯ=1\n").keys("P"), Keys{"\xDF"});
    EXPECT_EQ(IniFile::fromText("[P]\n\xDF=1\nЯ=2\n").keys("P"), (Keys{"\xDF", "\xD0\xAF"}));
    EXPECT_EQ(IniFile::fromText("[P]\nA\x01=1\n").keys("P"), Keys{"A?"});
}

} // namespace
} // namespace ostrel
