// The owned descriptor, its read/write loops and the scope guard.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "tools/Datei.h"
#include "tools/Errors.h"
#include "tools/ScopeGuard.h"

using namespace tervalo;

namespace {

bool IsOpenFd(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

TEST(Datei, HandleClosesOnceAndHandsOver) {
    char name[] = "/tmp/tervalo-datei-XXXXXX";
    const int raw = ::mkstemp(name);
    ASSERT_GE(raw, 0);
    ::unlink(name);
    {
        TDateiHandle a(raw);
        TDateiHandle b(std::move(a));
        EXPECT_FALSE(a);
        EXPECT_EQ(b.Fd(), raw);
        ASSERT_TRUE(WriteAt(b.Fd(), "abcdef", 6, 10));
        char got[16] = {};
        EXPECT_EQ(ReadAt(b.Fd(), got, sizeof got, 8), 8u);  // short only at the end
        EXPECT_EQ(std::string(got + 2, 6), "abcdef");
        EXPECT_EQ(got[0], '\0');
        ASSERT_TRUE(WriteAll(b.Fd(), "xy", 2));
        EXPECT_EQ(ReadAt(b.Fd(), got, 2, 0), 2u);
        EXPECT_EQ(std::string(got, 2), "xy");
        const int kept = b.Release();
        EXPECT_FALSE(b);
        b.Reset(kept);
    }
    EXPECT_FALSE(IsOpenFd(raw));
}

TEST(Datei, FailuresAreReportedTheirOwnWay) {
    TDateiHandle ro(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(ro);
    errno = 0;
    EXPECT_FALSE(WriteAt(ro.Fd(), "x", 1, 0));
    EXPECT_EQ(errno, EBADF);
    EXPECT_FALSE(WriteAll(ro.Fd(), "x", 1));
    TDateiHandle wo(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    char c;
    EXPECT_THROW(ReadAt(wo.Fd(), &c, 1, 0), EInOutError);
    const int fd = wo.Fd();
    EXPECT_EQ(wo.Close(), 0);
    EXPECT_FALSE(IsOpenFd(fd));
    EXPECT_EQ(wo.Close(), 0);  // closing twice is harmless
}

TEST(ScopeGuard, RunsOnEveryExitUnlessDismissed) {
    int runs = 0;
    try {
        const auto g = OnExit([&] { ++runs; });
        throw std::runtime_error("x");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(runs, 1);
    {
        auto g = OnExit([&] { ++runs; });
        g.Dismiss();
    }
    EXPECT_EQ(runs, 1);
}

}  // namespace
