// The tool's media in-process: exact 8-bit straight values in and out, the
// deliberate conversion of deeper and linear files, and timecodes. Bad files and failed
// writes: badfile_test.cpp.
#include <gtest/gtest.h>

#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imageio.h>

#include "image_io.h"
#include "media.h"
#include "video_io.h"
#include "tool_support.h"

using namespace tooltest;
using orvo::Frame;
using orvo::FrameRole;

namespace {

// Every (alpha, value) pair a straight 8-bit pixel can hold, with different
// values in the three colour channels.
Frame AllAlphas() {
    Frame f(256, 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 256; ++x) {
            uint8_t* p = f.pixel(x, y);
            p[0] = uint8_t(x), p[1] = uint8_t(y * 4), p[2] = uint8_t(255 - y * 4);
            p[3] = uint8_t((x * 7 + y * 13) & 255);
        }
    return f;
}

// The pixels that differ by more than `slack` (only where alpha is below 16;
// colour under alpha 0 not compared when `premultiplied`).
size_t Off(const Frame& got, const Frame& want, int slack, bool premultiplied) {
    size_t off = 0;
    for (size_t i = 0; i < want.px.size(); ++i) {
        const uint8_t alpha = want.px[i & ~size_t(3)];
        if (!(premultiplied && alpha == 0 && (i & 3)))
            off += std::abs(int(got.px[i]) - int(want.px[i])) > (alpha < 16 ? slack : 0);
    }
    return off;
}

TEST(MediaStills, EightBitValuesPassUntouchedAndDeeperFilesAreConvertedOnPurpose) {
    ScratchDir dir;
    const Frame f = AllAlphas();
    const struct {
        const char* name;
        OIIO::TypeDesc type;
        bool linear; // linear and premultiplied, as EXR holds it
        const char* conversion;
        int slack; // the colour of a pixel premultiplied by a small alpha in half floats
    } cases[] = {
        {"in.png", OIIO::TypeDesc::UINT8, false, "", 0},
        {"in.tif", OIIO::TypeDesc::UINT8, false, "", 0},
        {"in.tga", OIIO::TypeDesc::UINT8, false, "", 0},
        {"deep.png", OIIO::TypeDesc::UINT16, false, "uint16 values rounded to 8 bits", 0},
        {"lin.exr", OIIO::TypeDesc::HALF, true, "half linear values encoded as 8-bit sRGB", 8},
        {"lin32.exr", OIIO::TypeDesc::FLOAT, true, "float linear values encoded as 8-bit sRGB", 0},
    };
    for (const auto& c : cases) {
        // Written by another program: straight alpha, or linear premultiplied.
        OIIO::ImageSpec header(f.width, f.height, 4, c.type);
        header.alpha_channel = 3;
        if (!c.linear) header.attribute("oiio:UnassociatedAlpha", 1);
        std::vector<float> v;
        for (size_t i = 0; i < f.px.size(); i += 4) {
            const float a = f.px[i] / 255.0f;
            for (size_t k = 1; k <= 3; ++k)
                v.push_back(c.linear ? orvo::SrgbToLinear(f.px[i + k]) * a : f.px[i + k] / 255.0f);
            v.push_back(a);
        }
        auto out = OIIO::ImageOutput::create(dir / c.name);
        ASSERT_TRUE(out && out->open(dir / c.name, header) &&
                    out->write_image(OIIO::TypeDesc::FLOAT, v.data()) && out->close());
        orvo::ReadNotes notes;
        const Frame got = orvo::ReadImage(dir / c.name, FrameRole::kColour, &notes);
        EXPECT_EQ(notes.conversion + notes.damage, c.conversion);
        EXPECT_EQ(Off(got, f, c.slack, c.linear), 0u) << c.name;
        // Written back in the same format: the 8-bit values as given, linear
        // files associated and exact for every pixel with alpha above 0.
        const std::string back = dir / (std::string("back-") + c.name);
        orvo::WriteImage(back, got);
        EXPECT_EQ(Off(orvo::ReadImage(back, FrameRole::kColour), got, 0, c.linear), 0u) << back;
        OIIO::ImageSpec config;
        config.attribute("oiio:UnassociatedAlpha", 1);
        OIIO::ImageBuf raw(back, 0, 0, nullptr, &config);
        // Pixel (255, 32): alpha 255, red 128 (linear 0.2158605); pixel (128, 0):
        // alpha 128, green 255 (premultiplied 128/255).
        float a[4], b[4];
        ASSERT_TRUE(raw.read(0, 0, true, OIIO::TypeDesc::FLOAT));
        raw.getpixel(255, 32, a, 4), raw.getpixel(128, 0, b, 4);
        EXPECT_NEAR(a[0], c.linear ? 0.2158605f : 128 / 255.0f, 1e-6f) << back;
        EXPECT_NEAR(b[1], c.linear ? 128 / 255.0f : 1.0f, 1e-6f) << back;
    }
}

// A keyed video keeps the clip's rate, sound, timecode and colour tags, and is
// encoded with the matrix it declares: the backing colour comes back.
TEST(MediaVideo, OutputsCarryRateAudioTimecodeAndColour) {
    ScratchDir dir;
    ASSERT_TRUE(Ffmpeg("-f lavfi -i color=c=0x3AC052:s=64x48:r=25:d=0.4,format=rgb24 -f lavfi "
                       "-i sine=frequency=440:duration=0.4 -vf "
                       "scale=out_color_matrix=bt709:out_range=tv -pix_fmt yuv420p -c:v libx264 "
                       "-colorspace bt709 -color_primaries bt709 -color_trc bt709 -color_range tv "
                       "-c:a aac -timecode 01:00:00:00 -shortest " +
                       dir / "shot.mov"));
    orvo::KeyOptions o;
    o.fg = dir / "shot.mov";
    o.out = dir / "all.mp4";
    o.show = "Foreground";
    ASSERT_EQ(Key(o).status, 0);
    RunResult r = RunProgram({"ffprobe", "-v", "error", "-show_entries",
                              "stream=codec_name,r_frame_rate,color_space,color_primaries,"
                              "color_transfer:stream_tags=timecode",
                              "-of", "default=noprint_wrappers=1", dir / "all.mp4"});
    for (const char* part : {"codec_name=h264", "codec_name=aac", "r_frame_rate=25/1",
                             "timecode=01:00:00:00", "color_space=bt709", "color_transfer=bt709"})
        EXPECT_TRUE(Contains(r.out, part)) << part << "\n" << r.out;
    r = RunProgram({"ffmpeg", "-v", "error", "-i", dir / "all.mp4", "-frames:v", "1", "-f",
                    "rawvideo", "-pix_fmt", "rgb24", "-"});
    ASSERT_EQ(r.out.size(), 64u * 48 * 3) << r.err;
    const uint8_t* px = reinterpret_cast<const uint8_t*>(r.out.data()) + (20 * 64 + 30) * 3;
    EXPECT_NEAR(px[0], 58, 3);
    EXPECT_NEAR(px[1], 192, 3);
    EXPECT_NEAR(px[2], 82, 3);
}

TEST(MediaVideo, TimecodesMoveOnAsDisplayed) {
    const struct {
        const char *tc, *rate;
        long frames;
        const char* want;
    } cases[] = {
        {"01:00:00:00", "25/1", 30, "01:00:01:05"},
        {"23:59:59:24", "25/1", 1, "00:00:00:00"},
        {"00:00:59;29", "30000/1001", 1, "00:01:00;02"}, // ;00 and ;01 are skipped
        {"00:09:59;29", "30000/1001", 1, "00:10:00;00"}, // but not at a tenth minute
        {"00:01:00;02", "30000/1001", -1, "00:00:59;29"},
        {"00:00:00:00", "30000/1001", 1800, "00:01:00:00"}, // non-drop at 29.97
        {"junk", "25/1", 1, ""},
        {"01:00:00:00", "0/0", 1, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(orvo::AdvanceTimecode(c.tc, c.rate, c.frames), c.want) << c.tc << "+" << c.frames;
}

} // namespace
