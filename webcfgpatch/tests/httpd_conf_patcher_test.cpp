#include "httpd_conf_patcher.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace quellin::webcfgpatch {
namespace {

using testing::PrintTo;
using testing::ReadFile;
using testing::RowName;
using testing::Sjis;
using testing::WriteFile;

const std::string kFolder = "C:/Quellin_server";

struct LineCase {
    const char* name;
    std::string line;
    std::string expected;
};

class PatchLineTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(PatchLineTest, BecomesExpectedLine) {
    EXPECT_EQ(PatchLine(GetParam().line, kFolder, 8080), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, PatchLineTest,
    ::testing::Values(
        LineCase{"ListenPort", "Listen 80", "Listen 8080"},
        LineCase{"ListenAddressAndPort", "Listen 0.0.0.0:80", "Listen 8080"},
        LineCase{"ListenBacklogToo", "ListenBacklog 511", "Listen 8080"},
        LineCase{"ListenWithoutBlank", "Listen", "Listen 8080"},
        LineCase{"IndentedListenStays", " Listen 80", " Listen 80"},
        LineCase{"LowerCaseListenStays", "listen 80", "listen 80"},
        LineCase{"CommentedListenStays", "#Listen 12.34.56.78:80", "#Listen 12.34.56.78:80"},
        LineCase{"CommentedMarkerStays", "#ServerRoot \"*ServerRoot*\"",
                 "#ServerRoot \"*ServerRoot*\""},
        LineCase{"ServerRoot", "ServerRoot \"*ServerRoot*\"",
                 "ServerRoot \"C:/Quellin_server/httpd\""},
        LineCase{"ScriptAlias", "ScriptAlias /cgi-bin/ \"*ScriptAlias*\"",
                 "ScriptAlias /cgi-bin/ \"C:/Quellin_server/httpd/cgi-bin/\""},
        LineCase{"CgiDir", "<Directory \"*cgiDir*\">",
                 "<Directory \"C:/Quellin_server/httpd/cgi-bin\">"},
        LineCase{"DocumentRoot", "DocumentRoot \"*DocumentRoot*\"",
                 "DocumentRoot \"C:/Quellin_server/httpd/htdocs\""},
        LineCase{"MarkerAloneReplacesWholeLine", "   *DocumentRoot* trailing words",
                 "DocumentRoot \"C:/Quellin_server/httpd/htdocs\""},
        LineCase{"FirstRuleWinsServerRootOverDocumentRoot", "*DocumentRoot* *ServerRoot*",
                 "ServerRoot \"C:/Quellin_server/httpd\""},
        LineCase{"FirstRuleWinsScriptAliasOverCgiDir", "*cgiDir**ScriptAlias*",
                 "ScriptAlias /cgi-bin/ \"C:/Quellin_server/httpd/cgi-bin/\""},
        LineCase{"ListenBeatsMarker", "Listen *ServerRoot*", "Listen 8080"},
        LineCase{"LowerCaseMarkerStays", "DocumentRoot \"*documentroot*\"",
                 "DocumentRoot \"*documentroot*\""},
        LineCase{"MarkerWithoutAsterisksStays", "ServerRoot \"ServerRoot\"",
                 "ServerRoot \"ServerRoot\""},
        LineCase{"MarkerIsNotAWildcard", "*Server-Root*", "*Server-Root*"},
        LineCase{"EmptyLineStays", "", ""}),
    RowName());

struct PortCase {
    const char* name;
    const char* text;
    std::uint16_t expected;
};

class ParsePortTest : public ::testing::TestWithParam<PortCase> {};

TEST_P(ParsePortTest, Converts) {
    EXPECT_EQ(ParsePort(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Ports, ParsePortTest,
    ::testing::Values(PortCase{"Plain", "8080", 8080}, PortCase{"NotANumber", "abc", 0},
                      PortCase{"Empty", "", 0}, PortCase{"LeadingDigits", "81x", 81},
                      PortCase{"LeadingBlanks", "  82", 82}, PortCase{"Largest", "65535", 65535},
                      PortCase{"WrapsToZero", "65536", 0}, PortCase{"WrapsToOne", "65537", 1},
                      PortCase{"Wraps", "70000", 4464}, PortCase{"Negative", "-1", 65535},
                      PortCase{"Huge", "4294967376", 80}),
    RowName());

TEST(PatchTextTest, LineEndsBecomeCrLfAndLastLineIsKept) {
    EXPECT_EQ(PatchText("a\nb\r\n\r\nc", kFolder, 80), "a\r\nb\r\n\r\nc\r\n");
    EXPECT_EQ(PatchText("", kFolder, 80), "");
    EXPECT_EQ(PatchText("\n", kFolder, 80), "\r\n");
}

TEST(PatchTextTest, MultibyteLinesAreCopiedByteForByte) {
    const std::string line = "# " + Sjis("設定ファイル") + " \x81\x5c";
    EXPECT_EQ(PatchText(line + "\n", kFolder, 80), line + "\r\n");
}

class PatchFileTest : public testing::TempDirTest {
protected:
    std::string conf() const { return (dir / "httpd.conf").string(); }
    std::string temp() const { return conf() + ".tmp"; }
};

TEST_F(PatchFileTest, PatchesTheWholeTemplate) {
    WriteFile(conf(),
              "# Quellin\n"
              "ServerRoot \"*ServerRoot*\"\n"
              "#Listen 12.34.56.78:80\n"
              "Listen 80\n"
              "DocumentRoot \"*DocumentRoot*\"\n"
              "\n"
              "ScriptAlias /cgi-bin/ \"*ScriptAlias*\"\n"
              "<Directory \"*cgiDir*\">\n"
              "    Options +ExecCGI\n"
              "</Directory>");
    EXPECT_EQ(PatchFile(conf(), "/opt/Quellin_server", 8080), kPatched);
    EXPECT_EQ(ReadFile(conf()),
              "# Quellin\r\n"
              "ServerRoot \"/opt/Quellin_server/httpd\"\r\n"
              "#Listen 12.34.56.78:80\r\n"
              "Listen 8080\r\n"
              "DocumentRoot \"/opt/Quellin_server/httpd/htdocs\"\r\n"
              "\r\n"
              "ScriptAlias /cgi-bin/ \"/opt/Quellin_server/httpd/cgi-bin/\"\r\n"
              "<Directory \"/opt/Quellin_server/httpd/cgi-bin\">\r\n"
              "    Options +ExecCGI\r\n"
              "</Directory>\r\n");
    EXPECT_FALSE(std::filesystem::exists(temp()));
}

TEST_F(PatchFileTest, SecondRunChangesOnlyTheListenLines) {
    WriteFile(conf(), "ServerRoot \"*ServerRoot*\"\r\nListen 80\r\n");
    ASSERT_EQ(PatchFile(conf(), "/first", 8080), kPatched);
    ASSERT_EQ(PatchFile(conf(), "/second", 9090), kPatched);
    EXPECT_EQ(ReadFile(conf()), "ServerRoot \"/first/httpd\"\r\nListen 9090\r\n");
}

TEST_F(PatchFileTest, FileWithoutMarkersIsOnlyNormalised) {
    WriteFile(conf(), "ServerName example\nTimeout 60\r\n");
    ASSERT_EQ(PatchFile(conf(), kFolder, 80), kPatched);
    EXPECT_EQ(ReadFile(conf()), "ServerName example\r\nTimeout 60\r\n");
}

TEST_F(PatchFileTest, MissingFileLeavesNothingBehind) {
    EXPECT_EQ(PatchFile(conf(), kFolder, 80), kCannotOpen);
    EXPECT_FALSE(std::filesystem::exists(conf()));
    EXPECT_FALSE(std::filesystem::exists(temp()));
}

TEST_F(PatchFileTest, FolderInsteadOfFileCannotBeOpened) {
    std::filesystem::create_directory(conf());
    EXPECT_EQ(PatchFile(conf(), kFolder, 80), kCannotOpen);
    EXPECT_FALSE(std::filesystem::exists(temp()));
}

TEST_F(PatchFileTest, UncreatableTemporaryFileLeavesConfigurationUntouched) {
    WriteFile(conf(), "Listen 80\n");
    // A folder in the temporary file's place cannot be opened for writing,
    // which works as root too.
    std::filesystem::create_directory(temp());
    EXPECT_EQ(PatchFile(conf(), kFolder, 8080), kCannotOpen);
    EXPECT_EQ(ReadFile(conf()), "Listen 80\n");
}

// A link planted where the temporary file goes is not written through.
TEST_F(PatchFileTest, LinkInPlaceOfTheTemporaryFileIsNotFollowed) {
    WriteFile(conf(), "Listen 80\n");
    WriteFile(dir / "elsewhere", "untouched");
    std::filesystem::create_symlink(dir / "elsewhere", temp());
    EXPECT_EQ(PatchFile(conf(), kFolder, 8080), kCannotOpen);
    EXPECT_EQ(ReadFile(conf()), "Listen 80\n");
    EXPECT_EQ(ReadFile(dir / "elsewhere"), "untouched");
}

// The patched file keeps the configuration's permissions.
TEST_F(PatchFileTest, PermissionsOfTheConfigurationAreKept) {
    WriteFile(conf(), "Listen 80\n");
    const auto mode = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                      std::filesystem::perms::group_read;
    std::filesystem::permissions(conf(), mode);
    ASSERT_EQ(PatchFile(conf(), kFolder, 8080), kPatched);
    EXPECT_EQ(std::filesystem::status(conf()).permissions(), mode);
}

TEST_F(PatchFileTest, FailedRenameKeepsPatchedTextInTemporaryFile) {
    // A writable temporary file in a folder that cannot be changed: the file
    // can be rewritten but not renamed.  Root may rename anyway.
    if (::geteuid() == 0)
        GTEST_SKIP() << "folder permissions do not bind root";
    WriteFile(conf(), "Listen 80\n");
    WriteFile(temp(), "old");
    std::filesystem::permissions(
        dir.path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    EXPECT_EQ(PatchFile(conf(), kFolder, 8080), kCannotReplace);
    std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_all);
    EXPECT_EQ(ReadFile(conf()), "Listen 80\n");
    EXPECT_EQ(ReadFile(temp()), "Listen 8080\r\n");
}

// The template shipped for the installation: CR LF throughout, and patching
// changes exactly its four marked lines and its one Listen line.
TEST(ShippedTemplateTest, PatchingChangesOnlyTheMarkedLines) {
    const std::string text =
        ReadFile(std::filesystem::path(QUELLIN_SOURCE_DIR) / "dist/httpd/conf/httpd.conf");
    ASSERT_FALSE(text.empty());
    std::size_t lineFeeds = 0;
    std::size_t crLfs = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n')
            continue;
        ++lineFeeds;
        if (i > 0 && text[i - 1] == '\r')
            ++crLfs;
    }
    EXPECT_EQ(lineFeeds, crLfs);
    EXPECT_EQ(text.back(), '\n');

    const struct {
        std::string from;
        std::string to;
    } changes[] = {
        {"\r\nServerRoot \"*ServerRoot*\"\r\n", "\r\nServerRoot \"/opt/Q/httpd\"\r\n"},
        {"\r\nListen 80\r\n", "\r\nListen 8080\r\n"},
        {"\r\nDocumentRoot \"*DocumentRoot*\"\r\n", "\r\nDocumentRoot \"/opt/Q/httpd/htdocs\"\r\n"},
        {"\r\nScriptAlias /cgi-bin/ \"*ScriptAlias*\"\r\n",
         "\r\nScriptAlias /cgi-bin/ \"/opt/Q/httpd/cgi-bin/\"\r\n"},
        {"\r\n<Directory \"*cgiDir*\">\r\n", "\r\n<Directory \"/opt/Q/httpd/cgi-bin\">\r\n"},
    };
    std::string expected = text;
    for (const auto& change : changes) {
        auto at = expected.find(change.from);
        ASSERT_NE(at, std::string::npos) << change.from;
        expected.replace(at, change.from.size(), change.to);
        EXPECT_EQ(expected.find(change.from), std::string::npos) << change.from;
    }
    EXPECT_EQ(PatchText(text, "/opt/Q", 8080), expected);
}

TEST(RunTest, WrongArgumentCountIsUsageError) {
    EXPECT_EQ(webcfgpatch::Run({}), kUsage);
    EXPECT_EQ(webcfgpatch::Run({"a", "b"}), kUsage);
    EXPECT_EQ(webcfgpatch::Run({"a", "b", "80", "d"}), kUsage);
}

class ProgramTest : public testing::TempDirTest {
protected:
    int RunProgram(const std::string& arguments) {
        std::string command = std::string(QUELLIN_BIN_DIR) + "/Webcfgpatch " + arguments;
        int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1000;
    }
};

TEST_F(ProgramTest, RealProgramPatchesAndReportsStatuses) {
    const auto conf = dir / "httpd.conf";
    WriteFile(conf, "Listen 80\n<Directory \"*cgiDir*\">\n");
    EXPECT_EQ(RunProgram("'" + conf.string() + "' '/opt/Quellin_server' 70000"), 0);
    EXPECT_EQ(ReadFile(conf),
              "Listen 4464\r\n<Directory \"/opt/Quellin_server/httpd/cgi-bin\">\r\n");
    EXPECT_EQ(RunProgram("'" + conf.string() + "' '/opt/Quellin_server'"), 1);
    EXPECT_EQ(RunProgram("'" + (dir / "missing.conf").string() + "' /x 80"), 255);
}

}  // namespace
}  // namespace quellin::webcfgpatch
