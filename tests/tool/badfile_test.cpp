// Bad files never crash the tool and never leave a damaged output: each is
// refused with exit 2 naming the file, or keyed with a warning that the frame
// was damaged where the decoder still yields a picture. Nothing appears under
// the output's name unless the run succeeded.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include "subprocess.h"
#include "tool_support.h"

using namespace tooltest;
using orvo::Frame;
using orvo::KeyOptions;

namespace {

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Runs ffmpeg to make a test video; false when it fails.
bool Ffmpeg(std::vector<std::string> args) {
    args.insert(args.begin(), {"ffmpeg", "-v", "error", "-nostdin", "-y"});
    std::string out, err;
    return orvo::RunCapture(args, &out, &err) == 0;
}

std::string Lavfi(int w, int h) {
    return "color=c=0x3ac052:s=" + std::to_string(w) + "x" + std::to_string(h) + ":d=1:r=6";
}

// Every way a file can be bad, made from good files of each format.
struct BadFiles {
    ScratchDir dir;
    BadFiles() {
        const Frame plate = GreenPlate(64, 32);
        WritePng(dir / "bg.png", Solid(64, 32, 90, 60, 200), 3);
        WritePng(dir / "good.png", plate, 3);
        for (const char* ext : {"jpg", "tif", "exr"})
            WritePng(dir / (std::string("good.") + ext), plate, 3);
        for (const char* ext : {"png", "jpg", "tif", "exr"}) {
            const std::string e = ext;
            const std::string bytes = ReadBytes(dir / ("good." + e));
            WriteBytes(dir / ("cut." + e), bytes.substr(0, bytes.size() * 2 / 3));
            std::string flipped = bytes;
            for (size_t i = flipped.size() / 2; i < flipped.size() / 2 + 64; ++i)
                flipped[i] = char(flipped[i] ^ 0x5a);
            // A JPEG decoder notices a stray marker in its coded data (flipped
            // bits alone often decode to a picture without a complaint).
            if (e == "jpg") {
                flipped = bytes;
                flipped[bytes.size() * 3 / 4] = char(0xff);
                flipped[bytes.size() * 3 / 4 + 1] = char(0xd5);
            }
            WriteBytes(dir / ("corrupt." + e), flipped);
            WriteBytes(dir / ("empty." + e), "");
        }
        // A TIFF whose header is damaged (its pixel data has no check to fail).
        std::string tif = ReadBytes(dir / "good.tif");
        tif[2] = 0x7f;
        WriteBytes(dir / "badheader.tif", tif);
        WriteBytes(dir / "text.png", "this is not a picture\n");
        WriteBytes(dir / "png-named.jpg", ReadBytes(dir / "good.png"));
        // A PNG declaring 100000 x 100000 pixels, and one of 65535 x 65535
        // whose pixels would need 12 GiB.
        WriteBytes(dir / "huge.png", PngHeader(100000, 100000));
        WriteBytes(dir / "wide.png", PngHeader(65535, 65535));
    }

    // Videos: cut with the index at the end, cut with the index first, empty,
    // and one whose frame size changes part-way (made once, on first use).
    void MakeVideos() {
        if (Exists(dir / "sizechange.mkv")) return;
        Ffmpeg({"-f", "lavfi", "-i", Lavfi(64, 32), "-c:v", "libx264", "-pix_fmt", "yuv420p",
                dir / "good.mp4"});
        Ffmpeg({"-f", "lavfi", "-i", Lavfi(64, 32), "-c:v", "libx264", "-pix_fmt", "yuv420p",
                "-movflags", "+faststart", dir / "faststart.mp4"});
        for (const char* v : {"good.mp4", "faststart.mp4"}) {
            const std::string bytes = ReadBytes(dir / v);
            WriteBytes(dir / ("cut-" + std::string(v)), bytes.substr(0, bytes.size() * 2 / 3));
        }
        WriteBytes(dir / "empty.mov", "");
        Ffmpeg({"-f", "lavfi", "-i", Lavfi(64, 32), "-c:v", "mpeg2video", "-f", "mpegts",
                dir / "a.ts"});
        Ffmpeg({"-f", "lavfi", "-i", Lavfi(80, 48), "-c:v", "mpeg2video", "-f", "mpegts",
                dir / "b.ts"});
        WriteBytes(dir / "ab.ts", ReadBytes(dir / "a.ts") + ReadBytes(dir / "b.ts"));
        Ffmpeg({"-i", dir / "ab.ts", "-c", "copy", dir / "sizechange.mkv"});
    }

    // A PNG declaring w x h RGB pixels, with a few bytes of pixel data.
    static std::string PngHeader(uint32_t w, uint32_t h) {
        std::string size;
        for (uint32_t v : {w, h})
            for (int s = 24; s >= 0; s -= 8)
                size += char((v >> s) & 0xff);
        return "\x89PNG\r\n\x1a\n" + Chunk("IHDR", size + std::string("\x08\x02\x00\x00\x00", 5)) +
               Chunk("IDAT", std::string("\x78\x9c\x63\x00\x00\x00\x01\x00\x01", 9)) +
               Chunk("IEND", "");
    }
    // Length, type, data and CRC of one PNG chunk.
    static std::string Chunk(const std::string& type, const std::string& data) {
        std::string body = type + data, out;
        uint32_t crc = 0xffffffffu;
        for (unsigned char c : body) {
            crc ^= c;
            for (int k = 0; k < 8; ++k)
                crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
        }
        crc ^= 0xffffffffu;
        for (uint32_t v : {uint32_t(data.size())})
            for (int s = 24; s >= 0; s -= 8)
                out += char((v >> s) & 0xff);
        out += body;
        for (int s = 24; s >= 0; s -= 8)
            out += char((crc >> s) & 0xff);
        return out;
    }
};

BadFiles& Files() {
    static BadFiles files;
    return files;
}

TEST(ToolBadFiles, RefusedNamingTheFileAndNothingWritten) {
    BadFiles& f = Files();
    f.MakeVideos();
    const char* const refused[] = {
        "cut.png",   "corrupt.png",  "empty.png",         "text.png",  "badheader.tif",
        "empty.tif", "cut.exr",      "corrupt.exr",       "empty.exr", "empty.jpg",
        "huge.png",  "cut-good.mp4", "cut-faststart.mp4", "empty.mov",
    };
    for (const char* name : refused) {
        for (bool asBackground : {false, true}) {
            KeyOptions o;
            o.fg = asBackground ? f.dir / "good.png" : f.dir / name;
            o.bg = asBackground ? f.dir / name : f.dir / "bg.png";
            o.out = f.dir / "out.%04d.png";
            if (asBackground && Contains(name, ".m")) continue; // a video background needs a video
            KeyRun r = Key(o);
            EXPECT_EQ(r.status, 2) << name << ": " << r.error;
            EXPECT_TRUE(Contains(r.error, f.dir / name)) << name << ": " << r.error;
            EXPECT_FALSE(Exists(f.dir / "out.0001.png")) << name;
            std::filesystem::remove(f.dir / "out.0001.png");
        }
    }
    for (const std::string& file : f.dir.Files())
        EXPECT_FALSE(Contains(file, "orvo-tmp")) << file;
}

TEST(ToolBadFiles, AnImageTooBigForMemoryIsNamed) {
    BadFiles& f = Files();
    // A hard address-space limit, as a user's shell or a farm sets it.
    rlimit before;
    ASSERT_EQ(getrlimit(RLIMIT_AS, &before), 0);
    rlimit limited = before;
    limited.rlim_cur = rlim_t(4) << 30;
    ASSERT_EQ(setrlimit(RLIMIT_AS, &limited), 0);
    KeyOptions o;
    o.fg = f.dir / "wide.png";
    o.bg = f.dir / "bg.png";
    o.out = f.dir / "wide-out.png";
    KeyRun r = Key(o);
    setrlimit(RLIMIT_AS, &before);
    EXPECT_EQ(r.status, 2) << r.error;
    EXPECT_TRUE(Contains(r.error, f.dir / "wide.png")) << r.error;
    EXPECT_TRUE(Contains(r.error, "65535x65535")) << r.error;
    EXPECT_FALSE(Exists(f.dir / "wide-out.png"));
}

TEST(ToolBadFiles, PicturesADecoderRecoversAreKeyedWithAWarning) {
    BadFiles& f = Files();
    for (const char* name : {"cut.jpg", "corrupt.jpg", "cut.tif"}) {
        KeyOptions o;
        o.fg = f.dir / name;
        o.bg = f.dir / "bg.png";
        o.out = f.dir / (std::string("keyed-") + name + ".png");
        KeyRun r = Key(o);
        EXPECT_EQ(r.status, 0) << name << ": " << r.error;
        EXPECT_TRUE(r.Noted("warning: \"" + f.dir / name + "\"")) << name;
        EXPECT_TRUE(r.Noted("damaged")) << name;
    }
    // A PNG named .jpg is read for what it is, without a warning.
    KeyOptions o;
    o.fg = f.dir / "png-named.jpg";
    o.bg = f.dir / "bg.png";
    o.out = f.dir / "mislabelled.png";
    KeyRun r = Key(o);
    EXPECT_EQ(r.status, 0) << r.error;
    EXPECT_FALSE(r.Noted("warning"));
}

TEST(ToolBadFiles, AFrameSizeChangeStopsTheRun) {
    BadFiles& f = Files();
    f.MakeVideos();
    KeyOptions o;
    o.fg = f.dir / "sizechange.mkv";
    o.bg = f.dir / "bg.png";
    o.out = f.dir / "change.mov";
    KeyRun r = Key(o);
    EXPECT_EQ(r.status, 2) << r.error;
    EXPECT_TRUE(Contains(r.error, f.dir / "sizechange.mkv")) << r.error;
    EXPECT_FALSE(Exists(f.dir / "change.mov"));
    // The same in a sequence: the odd frame is named.
    ScratchDir seq;
    WritePng(seq / "s.0001.png", GreenPlate(64, 32), 3);
    WritePng(seq / "s.0002.png", GreenPlate(80, 32), 3);
    o.fg = seq / "s.%04d.png";
    o.out = seq / "o.%04d.png";
    r = Key(o);
    EXPECT_EQ(r.status, 2) << r.error;
    EXPECT_TRUE(Contains(r.error, seq / "s.0002.png\": frame 2 is 80x32, the first frame 64x32"))
        << r.error;
    EXPECT_FALSE(Exists(seq / "o.0002.png"));
}

// A small file system of its own (root only), unmounted at the end.
struct SmallDisk {
    std::string path;
    bool mounted = false;
    SmallDisk(const std::string& where, const char* options) : path(where) {
        std::filesystem::create_directory(path);
        mounted = geteuid() == 0 && mount("tmpfs", path.c_str(), "tmpfs", 0, options) == 0;
    }
    ~SmallDisk() {
        if (mounted) umount(path.c_str());
    }
};

TEST(ToolBadFiles, AReadOnlyFolderIsFoundBeforeRendering) {
    BadFiles& f = Files();
    SmallDisk disk(f.dir / "ro", "size=64k");
    if (!disk.mounted) GTEST_SKIP() << "cannot mount a small file system here";
    ASSERT_EQ(mount("tmpfs", disk.path.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=64k"), 0);
    KeyOptions o;
    o.fg = f.dir / "good.png";
    o.bg = f.dir / "bg.png";
    o.out = disk.path + "/out.png";
    KeyRun r = Key(o);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Contains(r.error, "is not writable (Read-only file system)")) << r.error;
    EXPECT_FALSE(r.Noted("frame in"));
}

TEST(ToolBadFiles, AFullDiskLeavesNothingUnderTheName) {
    BadFiles& f = Files();
    SmallDisk disk(f.dir / "full", "size=12k");
    if (!disk.mounted) GTEST_SKIP() << "cannot mount a small file system here";
    // Bigger than the disk in every format (noise does not compress).
    Frame noise(160, 120);
    uint32_t seed = 1;
    for (uint8_t& b : noise.px)
        b = uint8_t((seed = seed * 1103515245u + 12345u) >> 24);
    for (size_t i = 0; i < noise.px.size(); i += 4)
        noise.px[i] = 255;
    WritePng(f.dir / "noise.png", noise, 3);
    for (const char* ext : {"png", "jpg", "tif", "exr", "mov"}) {
        KeyOptions o;
        o.fg = f.dir / "noise.png";
        o.show = "Foreground";
        o.out = disk.path + "/out." + ext;
        KeyRun r = Key(o);
        EXPECT_NE(r.status, 0) << ext;
        EXPECT_TRUE(Contains(r.error, o.out)) << ext << ": " << r.error;
        EXPECT_TRUE(std::filesystem::is_empty(disk.path)) << ext;
        for (const auto& e : std::filesystem::directory_iterator(disk.path))
            std::filesystem::remove(e.path());
    }
}

} // namespace
