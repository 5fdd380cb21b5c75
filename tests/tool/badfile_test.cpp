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
#include "video_io.h"

using namespace tooltest;
using orvo::KeyOptions;

namespace {

// Length, type, data and CRC of one PNG chunk.
std::string PngChunk(const std::string& type, const std::string& data) {
    const std::string body = type + data;
    uint32_t crc = 0xffffffffu;
    for (unsigned char c : body) {
        crc ^= c;
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    std::string out;
    for (uint32_t v : {uint32_t(data.size()), 0u, ~crc})
        for (int s = 24; s >= 0; s -= 8)
            out += char((v >> s) & 0xff);
    return out.substr(0, 4) + body + out.substr(8);
}

// A PNG declaring w x h RGB pixels, with a few bytes of pixel data.
std::string PngHeader(uint32_t w, uint32_t h) {
    std::string size;
    for (uint32_t v : {w, h})
        for (int s = 24; s >= 0; s -= 8)
            size += char((v >> s) & 0xff);
    return "\x89PNG\r\n\x1a\n" + PngChunk("IHDR", size + std::string("\x08\x02\x00\x00\x00", 5)) +
           PngChunk("IDAT", std::string("\x78\x9c\x63\x00\x00\x00\x01\x00\x01", 9)) +
           PngChunk("IEND", "");
}

// Every way a file can be bad, made from good files of each format.
struct BadFiles {
    ScratchDir dir;
    BadFiles() {
        WritePng(dir / "bg.png", Solid(64, 32, 90, 60, 200), 3);
        for (const std::string e : {"png", "jpg", "tif", "exr"}) {
            WritePng(dir / ("good." + e), GreenPlate(64, 32), 3);
            const std::string bytes = ReadBytes(dir / ("good." + e));
            WriteBytes(dir / ("cut." + e), bytes.substr(0, bytes.size() * 2 / 3));
            WriteBytes(dir / ("empty." + e), "");
            std::string flipped = bytes;
            for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + 64; ++i)
                flipped[i] = char(flipped[i] ^ 0x5a);
            // A JPEG decoder notices a stray marker in its coded data (flipped
            // bits alone often decode to a picture without a complaint).
            if (e == "jpg") flipped = bytes, flipped.replace(bytes.size() * 3 / 4, 2, "\xff\xd5");
            WriteBytes(dir / ("corrupt." + e), flipped);
        }
        const std::string png = ReadBytes(dir / "good.png"), tif = ReadBytes(dir / "good.tif");
        WriteBytes(dir / "header.png", png.substr(0, 40));
        WriteBytes(dir / "short.tif", tif.substr(0, tif.size() / 3));
        WriteBytes(dir / "badheader.tif", tif.substr(0, 2) + '\x7f' + tif.substr(3));
        WriteBytes(dir / "text.png", "this is not a picture\n");
        WriteBytes(dir / "png-named.jpg", png);
        WriteBytes(dir / "jpeg-named.exr", ReadBytes(dir / "good.jpg"));
        // 100000 x 100000 pixels declared, and 65535 x 65535 (12 GiB of pixels).
        WriteBytes(dir / "huge.png", PngHeader(100000, 100000));
        WriteBytes(dir / "wide.png", PngHeader(65535, 65535));
        // Videos: cut with the index at the end or first, empty, not a video,
        // and one whose frame size changes part-way (raw and remuxed).
        for (const std::string v : {"good.mp4", "faststart.mp4"}) {
            Ffmpeg("-f lavfi -i color=c=0x3ac052:s=64x32:d=1:r=6 -c:v libx264 -pix_fmt yuv420p " +
                   std::string(v == "good.mp4" ? "" : "-movflags +faststart ") + dir / v);
            const std::string bytes = ReadBytes(dir / v);
            WriteBytes(dir / ("cut-" + v), bytes.substr(0, bytes.size() * 2 / 3));
        }
        WriteBytes(dir / "empty.mov", "");
        WriteBytes(dir / "text.mp4", "not a video at all\n");
        for (const std::string size : {"64x32", "80x48"})
            Ffmpeg("-f lavfi -i testsrc=d=0.3:r=10:s=" + size + " -c:v mpeg2video -f mpegts " +
                   dir / (size + ".ts"));
        WriteBytes(dir / "ab.ts", ReadBytes(dir / "64x32.ts") + ReadBytes(dir / "80x48.ts"));
        Ffmpeg("-i " + dir / "ab.ts" + " -c copy " + dir / "ab.mkv");
    }
    KeyOptions Options(const std::string& fg, const std::string& out) {
        KeyOptions o;
        o.fg = dir / fg;
        o.bg = dir / "bg.png";
        o.out = dir / out;
        return o;
    }
};

// `f()` under a lower soft limit of `resource`.
template <class R, class F> KeyRun UnderLimit(R resource, rlim_t value, F f) {
    rlimit saved, lower;
    getrlimit(resource, &saved);
    lower = saved;
    lower.rlim_cur = value;
    setrlimit(resource, &lower);
    const KeyRun r = f();
    setrlimit(resource, &saved);
    return r;
}

TEST(ToolBadFiles, RefusedNamingTheFileOrKeyedWithAWarning) {
    BadFiles f;
    std::vector<std::pair<std::string, std::string>> refused = {
        {"text.mp4", "cannot read video"},
        {"missing.mp4", "no such file"},
        {"ab.mkv", "the frame size changes from 64x32 to 80x48"}};
    for (const char* name :
         {"cut.png", "corrupt.png", "empty.png", "text.png", "header.png", "badheader.tif",
          "short.tif", "empty.tif", "cut.exr", "corrupt.exr", "empty.exr", "empty.jpg", "huge.png",
          "cut-good.mp4", "cut-faststart.mp4", "empty.mov"})
        refused.emplace_back(name, "");
    for (const auto& [name, says] : refused) {
        const KeyRun r = Key(f.Options(name, "out.%04d.png"));
        EXPECT_EQ(r.status, 2) << name << ": " << r.error;
        EXPECT_TRUE(Contains(r.error, f.dir / name) && Contains(r.error, says)) << r.error;
        EXPECT_FALSE(Exists(f.dir / "out.0001.png")) << name;
    }
    // A picture too big for a hard address-space limit, as a user's shell or a farm sets it.
    KeyRun r = UnderLimit(RLIMIT_AS, rlim_t(4) << 30,
                          [&] { return Key(f.Options("wide.png", "wide-out.png")); });
    EXPECT_EQ(r.status, 2) << r.error;
    EXPECT_TRUE(Contains(r.error, f.dir / "wide.png") && Contains(r.error, "65535x65535"));
    EXPECT_FALSE(Exists(f.dir / "wide-out.png"));
    // A stream without tags, whose frame size changes (read as a video directly:
    // the tool takes .ts files for stills).
    EXPECT_TRUE(Contains(Thrown([&] { orvo::VideoReader(f.dir / "ab.ts"); }).second,
                         "the frame size changes from 64x32 to 80x48"));
    // A background is read the same way.
    KeyOptions o = f.Options("good.png", "out.png");
    o.bg = f.dir / "cut.png";
    EXPECT_TRUE(Contains(Key(o).error, f.dir / "cut.png"));
    for (const std::string& file : f.dir.Files())
        EXPECT_FALSE(Contains(file, "orvo-tmp")) << file;
    // Pictures a decoder recovers are keyed with a warning; files named for
    // another format are read by what they hold.
    const struct {
        const char* name;
        const char* warning; // "" for none
    } cases[] = {
        {"cut.jpg", "Premature end"}, {"corrupt.jpg", "frame damaged"},
        {"cut.tif", "frame damaged"}, {"png-named.jpg", ""},
        {"jpeg-named.exr", ""}, // read by what they hold
    };
    for (const auto& c : cases) {
        const KeyRun r = Key(f.Options(c.name, std::string("keyed-") + c.name + ".png"));
        EXPECT_EQ(r.status, 0) << c.name << ": " << r.error;
        if (*c.warning)
            EXPECT_TRUE(r.Says("warning: \"" + f.dir / c.name + "\"") && r.Says(c.warning))
                << c.name;
        else
            EXPECT_FALSE(r.Says("warning")) << c.name;
    }
}

TEST(ToolBadFiles, AFailedWriteKeepsTheEarlierOutputAndAReadOnlyFolderIsFoundFirst) {
    ScratchDir dir;
    WritePng(dir / "noise.png", Noise(160, 120), 4); // bigger than the limit in every format
    for (const std::string ext : {"png", "jpg", "tif", "exr", "dpx", "mov", "mkv"}) {
        KeyOptions o;
        o.fg = dir / "noise.png";
        o.bg = dir / "noise.png";
        o.show = "Foreground";
        o.out = dir / ("out." + ext);
        WriteBytes(o.out, "an earlier result");
        const auto before = dir.Files();
        // A file size limit makes writes fail the way a full disk does.
        std::signal(SIGXFSZ, SIG_IGN);
        const KeyRun r = UnderLimit(RLIMIT_FSIZE, 4096, [&] { return Key(o); });
        EXPECT_EQ(r.status, 2) << ext << ": " << r.error;
        EXPECT_TRUE(Contains(r.error, o.out)) << ext << ": " << r.error;
        EXPECT_EQ(ReadBytes(o.out), "an earlier result") << ext;
        EXPECT_EQ(dir.Files(), before) << ext;
    }
    // A read-only folder (root only: a small file system of its own) is found
    // before rendering.
    const std::string ro = dir / "ro";
    std::filesystem::create_directory(ro);
    if (geteuid() == 0 && mount("tmpfs", ro.c_str(), "tmpfs", MS_RDONLY, "size=64k") == 0) {
        KeyOptions o;
        o.fg = o.bg = dir / "noise.png";
        o.show = "Foreground";
        o.out = ro + "/out.png";
        const KeyRun r = Key(o);
        umount(ro.c_str());
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(Contains(r.error, "is not writable (Read-only file system)")) << r.error;
        EXPECT_FALSE(r.Says("frame in"));
    }
}

} // namespace
