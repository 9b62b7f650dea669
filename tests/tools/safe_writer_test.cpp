// The safe writer: checked targets, temporary file, modes, links, failures.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/Files.h"
#include "tools/SafeWriter.h"

namespace fs = std::filesystem;
using namespace tervalo;

namespace {

class SafeWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/tervalo-safe-XXXXXX";
        dir_ = mkdtemp(tmpl);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string P(const std::string& name) const { return dir_ + "/" + name; }
    static std::string Slurp(const std::string& path) { return test::ReadAll(path); }
    static void Put(const std::string& path, const std::string& text) { test::WriteAll(path, text); }
    static void Replace(const std::string& target, const std::string& text) {
        TSafeFile f(target);
        f.Write(text.data(), text.size());
        f.Commit();
    }
    // Entries of the folder; a leftover temporary file shows as one more.
    std::size_t Entries() const { return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), {})); }
    std::string dir_;
};

// Modes, concurrent writers and full disks are tried with the programs (export CLI tests).
TEST_F(SafeWriterTest, WithoutCommitTheTargetStays) {
    Put(P("t.dbf"), "alt");
    {
        TSafeFile f(P("t.dbf"));
        f.Write("neu", 3);
        EXPECT_EQ(Entries(), 2u);
    }
    EXPECT_EQ(Slurp(P("t.dbf")), "alt");
    EXPECT_EQ(Entries(), 1u);
    // What a second signal does: every temporary file still open goes.
    TSafeFile c(P("u.xyz")), d(P("t.dbf"));
    RemoveSafeFileTemporaries();
    EXPECT_FALSE(fs::exists(c.TempPath()));
    EXPECT_FALSE(fs::exists(d.TempPath()));
    EXPECT_EQ(Entries(), 1u);
}

TEST_F(SafeWriterTest, LinksNameTheFileThatIsReplaced) {
    fs::create_directories(P("echt/innen"));
    Put(P("echt/ziel.xyz"), "alt");
    fs::create_symlink("echt/ziel.xyz", P("link.xyz"));
    Replace(P("link.xyz"), "neu");
    EXPECT_TRUE(fs::is_symlink(P("link.xyz")));
    EXPECT_EQ(Slurp(P("echt/ziel.xyz")), "neu");
    // A dangling link creates the file it points to.
    fs::create_symlink("echt/spaeter.xyz", P("offen.xyz"));
    Replace(P("offen.xyz"), "da");
    EXPECT_TRUE(fs::is_symlink(P("offen.xyz")));
    EXPECT_EQ(Slurp(P("echt/spaeter.xyz")), "da");
    // ".." after a linked folder goes where the system goes: into the link's parent.
    fs::create_directory_symlink(P("echt/innen"), P("ordner"));
    Replace(P("ordner/../oben.xyz"), "oben");
    EXPECT_EQ(Slurp(P("echt/oben.xyz")), "oben");
    EXPECT_FALSE(fs::exists(P("oben.xyz")));
    // A chain of links that never ends is no file.
    fs::create_symlink("kreis2", P("kreis1"));
    fs::create_symlink("kreis1", P("kreis2"));
    EXPECT_THROW(TSafeFile f(P("kreis1")), EZielAbgelehnt);
    EXPECT_TRUE(fs::is_symlink(P("kreis1")));
}

TEST_F(SafeWriterTest, RefusalsComeAtOnceAndNameThePath) {
    Put(P("quelle.xyz"), "q");
    fs::create_hard_link(P("quelle.xyz"), P("hart.xyz"));
    fs::create_symlink(P("tervalo.KNF"), P("konf-link"));
    ASSERT_EQ(::mkfifo(P("fifo").c_str(), 0644), 0);
    const TSchutz schutz{{P("quelle.xyz")}, P("tervalo.KNF")};  // the configuration does not exist yet
    auto refusal = [&](const std::string& target) {
        try {
            TSafeFile::Check(target, schutz);
        } catch (const EZielAbgelehnt& e) {
            EXPECT_EQ(e.Errno(), 0) << e.what();
            return std::string(e.what());
        }
        return std::string("angenommen");
    };
    EXPECT_EQ(refusal(P("hart.xyz")), TextZielIstQuelle + P("hart.xyz"));
    EXPECT_EQ(refusal(dir_ + "/./quelle.xyz"), TextZielIstQuelle + dir_ + "/./quelle.xyz");
    EXPECT_EQ(refusal(P("tervalo.KNF")), TextZielIstKonfiguration + P("tervalo.KNF"));
    EXPECT_EQ(refusal(P("konf-link")), TextZielIstKonfiguration + P("konf-link"));
    EXPECT_EQ(refusal(P("fifo")), TextZielKeineDatei + P("fifo"));
    EXPECT_EQ(refusal(dir_), TextZielKeineDatei + dir_);
    try {
        TSafeFile f(P("fehlt/x.xyz"));
        ADD_FAILURE() << "created in a missing folder";
    } catch (const EZielAbgelehnt& e) {
        EXPECT_EQ(std::string(e.what()), TextOrdnerFehlt + P("fehlt"));
    }
    EXPECT_EQ(Slurp(P("quelle.xyz")), "q");
    EXPECT_EQ(Entries(), 4u);
}

}  // namespace
