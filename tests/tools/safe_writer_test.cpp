// The safe writer: checked targets, temporary file, modes, links, failures.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/files.h"
#include "tools/SafeWriter.h"

namespace fs = std::filesystem;
using namespace tervalo;

namespace {

class SafeWriterTest : public ::testing::Test {
protected:
    std::string P(const std::string& name) const { return dir_ + "/" + name; }
    static std::string Slurp(const std::string& path) { return test::ReadAll(path); }
    static void Put(const std::string& path, const std::string& text) { test::WriteAll(path, text); }
    static void Replace(const std::string& target, const std::string& text) {
        TSichereDatei f(target);
        f.Write(text.data(), text.size());
        f.Commit();
    }
    // Entries of the folder; a leftover temporary file shows as one more.
    std::size_t Entries() const { return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), {})); }
    test::TempDir tmp_;
    std::string dir_ = tmp_.Path().string();
};

// Modes, concurrent writers and full disks are tried with the programs (export CLI tests).
TEST_F(SafeWriterTest, WithoutCommitTheTargetStays) {
    Put(P("t.dbf"), "alt");
    {
        TSichereDatei f(P("t.dbf"));
        f.Write("neu", 3);
        EXPECT_EQ(Entries(), 2u);
    }
    EXPECT_EQ(Slurp(P("t.dbf")), "alt");
    EXPECT_EQ(Entries(), 1u);
    // What a second signal does: every temporary file still open goes.
    TSichereDatei c(P("u.xyz")), d(P("t.dbf"));
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
    EXPECT_THROW(TSichereDatei f(P("kreis1")), EZielAbgelehnt);
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
            TSichereDatei::Check(target, schutz);
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
        TSichereDatei f(P("fehlt/x.xyz"));
        ADD_FAILURE() << "created in a missing folder";
    } catch (const EZielAbgelehnt& e) {
        EXPECT_EQ(std::string(e.what()), TextOrdnerFehlt + P("fehlt"));
    }
    EXPECT_EQ(Slurp(P("quelle.xyz")), "q");
    EXPECT_EQ(Entries(), 4u);
}

// Tests run as root here and in CI: a file without any write bit is refused all the same.
TEST_F(SafeWriterTest, ATargetWithoutWriteBitsIsRefusedToRootToo) {
    Put(P("fest.xyz"), "geschuetzt");
    for (mode_t mode : {0444, 0000}) {
        ::chmod(P("fest.xyz").c_str(), mode);
        try {
            TSichereDatei f(P("fest.xyz"));
            ADD_FAILURE() << "mode " << std::oct << mode << " accepted";
        } catch (const EZielAbgelehnt& e) {
            EXPECT_EQ(std::string(e.what()), TextZielSchreibgeschuetzt + P("fest.xyz"));
        }
    }
    // Protected while the run wrote: the commit refuses and leaves it.
    ::chmod(P("fest.xyz").c_str(), 0644);
    TSichereDatei f(P("fest.xyz"));
    ::chmod(P("fest.xyz").c_str(), 0444);
    EXPECT_THROW(f.Commit(), EZielAbgelehnt);
    EXPECT_EQ(Slurp(P("fest.xyz")), "geschuetzt");
    EXPECT_EQ(Entries(), 1u);
}

TEST_F(SafeWriterTest, CommitIfNewNeverReplaces) {
    TSichereDatei f(P("neu.xyz")), g(P("spaeter.xyz"));
    f.Write("eins", 4);
    EXPECT_TRUE(f.CommitIfNew());
    EXPECT_EQ(Slurp(P("neu.xyz")), "eins");
    Put(P("spaeter.xyz"), "fremd");  // appears while the run writes
    EXPECT_FALSE(g.CommitIfNew());
    EXPECT_EQ(Slurp(P("spaeter.xyz")), "fremd");
    EXPECT_EQ(Entries(), 2u);
}

// A child process that holds a lock on `path` until it is killed: a run that still lives.
pid_t HoldLock(const std::string& path) {
    int ready[2];
    if (::pipe(ready) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open(path.c_str(), O_RDONLY);
        const char ok = fd >= 0 && ::flock(fd, LOCK_EX) == 0 ? 'j' : 'n';
        [[maybe_unused]] ssize_t w = ::write(ready[1], &ok, 1);
        ::pause();
        ::_exit(0);
    }
    char ok = 'n';
    [[maybe_unused]] ssize_t r = ::read(ready[0], &ok, 1);
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_EQ(ok, 'j');
    return pid;
}

// A run that died leaves its temporary file; the next run writing the same target removes
// it, but never the file of a run that still lives, nor anything else.
TEST_F(SafeWriterTest, LeftoversNobodyHoldsGoWithTheNextRunOfTheirTarget) {
    TSichereDatei live(P("t.xyz"));
    const std::string dead = P(".t.xyz.tervalo-Ab3xY9"), deadEmpty = P(".t.xyz.tervalo-000000"),
                      young = P(".t.xyz.tervalo-zzzzzz"), held = P(".t.xyz.tervalo-HELD00"),
                      other = P(".u.xyz.tervalo-Ab3xY9"), odd = P(".t.xyz.tervalo-Ab3x_9"),
                      link = P(".t.xyz.tervalo-LINK00");
    const std::string name(240, 'n'), longDead = P("." + name.substr(0, 200) + ".tervalo-Ab3xY9");
    for (const std::string& f : {dead, held, other, odd, longDead}) Put(f, "alt");
    Put(deadEmpty, "");
    const timespec old[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
    ::utimensat(AT_FDCWD, deadEmpty.c_str(), old, 0);
    Put(young, "");  // may be a run's that has not locked it yet
    fs::create_symlink(P("t.xyz"), link);
    const pid_t holder = HoldLock(held);
    {
        TSichereDatei next(P("t.xyz"));
        for (const std::string& f : {dead, deadEmpty}) EXPECT_FALSE(fs::exists(f)) << f;
        for (const std::string& f : {live.TempPath(), young, held, other, odd}) EXPECT_TRUE(fs::exists(f)) << f;
        EXPECT_TRUE(fs::is_symlink(link));
    }
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    TSichereDatei after(P("t.xyz")), longOne(P(name));
    EXPECT_FALSE(fs::exists(held));
    EXPECT_FALSE(fs::exists(longDead));  // found under the shortened name
    EXPECT_TRUE(fs::exists(live.TempPath()));
}

}  // namespace
