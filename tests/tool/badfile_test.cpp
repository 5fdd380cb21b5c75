// Bad files never crash the tool and never lose data: each is refused with
// exit 2 naming the file, or keyed with a warning where the decoder still
// yields a picture; a failed write leaves nothing new and keeps an earlier
// output. Nothing appears under the output's name unless the run succeeded.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include "tool_support.h"

using namespace tooltest;

namespace {

// `f()` under a lower soft limit of `resource`.
template <class F> KeyRun UnderLimit(int resource, rlim_t value, F f) {
    rlimit saved, lower;
    getrlimit(resource, &saved);
    lower = saved, lower.rlim_cur = value;
    setrlimit(resource, &lower);
    const KeyRun r = f();
    setrlimit(resource, &saved);
    return r;
}

TEST(ToolBadFiles, RefusedNamingTheFileOrKeyedWithAWarning) {
    ScratchDir dir;
    WritePng(dir / "bg.png", Solid(64, 32, 90, 60, 200), 3);
    for (const std::string e : {"png", "jpg", "tif", "exr"}) {
        WritePng(dir / ("good." + e), GreenPlate(64, 32), 3);
        const std::string bytes = ReadBytes(dir / ("good." + e));
        WriteBytes(dir / ("cut." + e), bytes.substr(0, bytes.size() * 2 / 3));
        WriteBytes(dir / ("empty." + e), "");
    }
    // A JPEG decoder notices a stray marker in its coded data.
    std::string jpg = ReadBytes(dir / "good.jpg");
    WriteBytes(dir / "corrupt.jpg", jpg.replace(jpg.size() * 3 / 4, 2, "\xff\xd5"));
    WriteBytes(dir / "text.png", "this is not a picture\n");
    WriteBytes(dir / "png-named.jpg", ReadBytes(dir / "good.png"));
    // 100000 x 100000 pixels declared, and 65535 x 65535 (12 GiB of pixels).
    WriteBytes(dir / "huge.ppm", "P6\n100000 100000\n255\nxyz");
    WriteBytes(dir / "wide.ppm", "P6\n65535 65535\n255\nxyz");
    // Videos: cut, not a video, and one whose frame size changes part-way.
    Ffmpeg("-f lavfi -i color=c=0x3ac052:s=64x32:d=1:r=6 -c:v libx264 -pix_fmt yuv420p " +
           dir / "good.mp4");
    const std::string mp4 = ReadBytes(dir / "good.mp4");
    WriteBytes(dir / "cut.mp4", mp4.substr(0, mp4.size() * 2 / 3));
    WriteBytes(dir / "text.mp4", "not a video at all\n");
    for (const std::string size : {"64x32", "80x48"})
        Ffmpeg("-f lavfi -i testsrc=d=0.3:r=10:s=" + size + " -c:v mpeg2video -f mpegts " +
               dir / (size + ".ts"));
    WriteBytes(dir / "ab.ts", ReadBytes(dir / "64x32.ts") + ReadBytes(dir / "80x48.ts"));
    Ffmpeg("-i " + dir / "ab.ts" + " -c copy " + dir / "ab.mkv");
    for (const std::string c :
         {"text.mp4|cannot read video", "missing.mp4|no such file",
          "ab.mkv|the frame size changes from 64x32 to 80x48", "huge.ppm|100000x100000", "cut.png|",
          "empty.png|", "text.png|", "cut.exr|", "empty.tif|", "empty.jpg|", "cut.mp4|"}) {
        const std::string name = c.substr(0, c.find('|')), says = c.substr(c.find('|') + 1);
        const KeyRun r = Key(Options(dir, "bg=bg.png;out=out.%04d.png;fg=" + name));
        EXPECT_EQ(r.status, 2) << name << ": " << r.error;
        EXPECT_TRUE(Contains(r.error, dir / name) && Contains(r.error, says)) << r.error;
    }
    // A background is read the same way; a picture too big for a hard
    // address-space limit, as a user's shell or a farm sets it, is refused.
    EXPECT_TRUE(
        Contains(Key(Options(dir, "fg=good.png;bg=cut.png;out=o.png")).error, dir / "cut.png"));
    KeyRun r = UnderLimit(RLIMIT_AS, rlim_t(4) << 30, [&] {
        return Key(Options(dir, "fg=wide.ppm;bg=bg.png;out=wide-out.png"));
    });
    EXPECT_TRUE(r.status == 2 && Contains(r.error, dir / "wide.ppm") &&
                Contains(r.error, "65535x65535"))
        << r.error;
    // Pictures a decoder recovers are keyed with a warning; a file named for
    // another format is read by what it holds.
    const std::pair<const char*, const char*> recovered[] = {{"cut.jpg", "Premature end"},
                                                             {"corrupt.jpg", "frame damaged"},
                                                             {"cut.tif", "frame damaged"},
                                                             {"png-named.jpg", ""}};
    for (const auto& [name, warning] : recovered) {
        r = Key(Options(dir, "bg=bg.png;out=keyed.png;fg=" + std::string(name)));
        EXPECT_EQ(r.status, 0) << name << ": " << r.error;
        EXPECT_EQ(r.Says("warning: \"" + dir / name + "\"") && r.Says(warning), *warning != 0)
            << name;
    }
    for (const std::string& file : dir.Files())
        EXPECT_FALSE(Contains(file, "orvo-tmp") || Contains(file, "out.") ||
                     Contains(file, "o.png"))
            << file;
}

TEST(ToolBadFiles, AFailedWriteKeepsTheEarlierOutputAndAReadOnlyFolderIsFoundFirst) {
    ScratchDir dir;
    orvo::Frame noise(160, 120); // bytes that do not compress, bigger than the limit
    for (size_t i = 0; i < noise.px.size(); ++i)
        noise.px[i] = uint8_t((i * 2654435761u) >> 13);
    WritePng(dir / "noise.png", noise, 4);
    std::signal(SIGXFSZ, SIG_IGN); // a file size limit makes writes fail as a full disk does
    for (const std::string ext : {"png", "exr", "mov"}) {
        WriteBytes(dir / ("out." + ext), "an earlier result");
        const auto before = dir.Files();
        const KeyRun r = UnderLimit(RLIMIT_FSIZE, 4096, [&] {
            return Key(Options(dir, "fg=noise.png;bg=noise.png;show=1;out=out." + ext));
        });
        EXPECT_TRUE(r.status == 2 && Contains(r.error, dir / ("out." + ext)))
            << ext << ": " << r.error;
        EXPECT_EQ(ReadBytes(dir / ("out." + ext)), "an earlier result") << ext;
        EXPECT_EQ(dir.Files(), before) << ext;
    }
    // A read-only folder (root only: a small file system of its own) is found before rendering.
    std::filesystem::create_directory(dir / "ro");
    if (geteuid() == 0 &&
        mount("tmpfs", (dir / "ro").c_str(), "tmpfs", MS_RDONLY, "size=64k") == 0) {
        const KeyRun r = Key(Options(dir, "fg=noise.png;bg=noise.png;show=1;out=ro/out.png"));
        umount((dir / "ro").c_str());
        EXPECT_TRUE(r.status == 2 && Contains(r.error, "is not writable (Read-only file system)") &&
                    !r.Says("frame in"))
            << r.error;
    }
}

} // namespace
