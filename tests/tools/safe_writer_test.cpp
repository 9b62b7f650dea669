// The safe writer: checked targets, temporary file, modes, links, failures.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tools/Errors.h"
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
    static std::string Slurp(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static void Put(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    static void Replace(const std::string& target, const std::string& text, const TSchutz& schutz = {}) {
        TSafeFile f(target, schutz);
        f.Write(text.data(), text.size());
        f.Commit();
    }
    static mode_t Mode(const std::string& path) {
        struct stat st {};
        ::stat(path.c_str(), &st);
        return st.st_mode & 07777;
    }
    // Names in the folder besides the given ones: leftover temporary files.
    std::size_t Entries() const { return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), {})); }
    std::string dir_;
};

TEST_F(SafeWriterTest, NewFilesFollowTheUmaskReplacedOnesKeepTheirMode) {
    const mode_t old = ::umask(027);
    Replace(P("neu.xyz"), "eins");
    ::umask(old);
    EXPECT_EQ(Mode(P("neu.xyz")), 0640u);  // not the temporary file's 0600
    Put(P("alt.xyz"), "alt");
    ::chmod(P("alt.xyz").c_str(), 0604);
    Replace(P("alt.xyz"), "neu");
    EXPECT_EQ(Slurp(P("alt.xyz")), "neu");
    EXPECT_EQ(Mode(P("alt.xyz")), 0604u);
    EXPECT_EQ(Entries(), 2u);
}

TEST_F(SafeWriterTest, WithoutCommitOrAfterAWriteErrorTheTargetStays) {
    Put(P("t.dbf"), "alt");
    {
        TSafeFile f(P("t.dbf"));
        f.Write("neu", 3);
        EXPECT_EQ(Entries(), 2u);
    }
    EXPECT_EQ(Slurp(P("t.dbf")), "alt");
    EXPECT_EQ(Entries(), 1u);

    // A full disk, simulated by a file size limit.
    struct rlimit saved {};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    auto handler = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    ::setrlimit(RLIMIT_FSIZE, &small);
    try {
        TSafeFile f(P("t.dbf"));
        const std::string block(8192, 'x');
        f.Write(block.data(), block.size());
        f.Write(block.data(), block.size());
        ADD_FAILURE() << "the write did not fail";
    } catch (const EInOutError& e) {
        EXPECT_EQ(std::string(e.what()), "E/A-Fehler 27: " + P("t.dbf"));
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, handler);
    EXPECT_EQ(Slurp(P("t.dbf")), "alt");
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

TEST_F(SafeWriterTest, TwoWritersOfOneTargetLeaveOneWholeOutput) {
    TSafeFile a(P("t.xyz")), b(P("t.xyz"));
    const std::string one(300000, '1'), two(200000, '2');
    a.Write(one.data(), one.size());
    b.Write(two.data(), two.size());
    a.Commit();
    EXPECT_EQ(Slurp(P("t.xyz")), one);
    b.Commit();
    EXPECT_EQ(Slurp(P("t.xyz")), two);
    EXPECT_EQ(Entries(), 1u);

    // What a second signal does: every temporary file still open goes.
    TSafeFile c(P("u.xyz")), d(P("v.xyz"));
    RemoveSafeFileTemporaries();
    EXPECT_FALSE(fs::exists(c.TempPath()));
    EXPECT_FALSE(fs::exists(d.TempPath()));
    EXPECT_EQ(Entries(), 1u);
}

}  // namespace
