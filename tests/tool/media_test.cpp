// The tool's media in-process: exact 8-bit straight values in and out, the
// deliberate conversion of deeper files, what a video output carries over
// from its source (rate, audio, timecode, colour, matte), and the demo's
// views sheet. Bad files and failed writes: badfile_test.cpp.
#include <gtest/gtest.h>

#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imageio.h>

#include "demo.h"
#include "effect.h"
#include "errors.h"
#include "image_io.h"
#include "key.h"
#include "media.h"
#include "tool_support.h"
#include "video_io.h"

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
            p[0] = uint8_t(x);
            p[1] = uint8_t(y * 4);
            p[2] = uint8_t(255 - y * 4);
            p[3] = uint8_t((x * 7 + y * 13) & 255);
        }
    return f;
}

// Writes `f` through OpenImageIO as RGBA of `type`, the colour channels as
// `colour` gives them from the 8-bit value and the alpha.
template <class C>
void WriteRgba(const std::string& path, const Frame& f, OIIO::TypeDesc type, bool straight,
               C colour) {
    OIIO::ImageSpec header(f.width, f.height, 4, type);
    header.alpha_channel = 3;
    if (straight) header.attribute("oiio:UnassociatedAlpha", 1);
    std::vector<float> v;
    for (size_t i = 0; i < f.px.size(); i += 4) {
        for (size_t c = 1; c <= 3; ++c)
            v.push_back(colour(f.px[i + c], f.px[i] / 255.0f));
        v.push_back(f.px[i] / 255.0f);
    }
    auto out = OIIO::ImageOutput::create(path);
    ASSERT_TRUE(out && out->open(path, header) &&
                out->write_image(OIIO::TypeDesc::FLOAT, v.data()) && out->close());
}

// The file's RGBA as floats, without any alpha association.
std::vector<float> RawFloats(const std::string& path) {
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    OIIO::ImageBuf image(path, 0, 0, nullptr, &config);
    if (!image.read(0, 0, true, OIIO::TypeDesc::FLOAT) || image.nchannels() != 4) return {};
    std::vector<float> v(image.roi().npixels() * 4);
    image.get_pixels(image.roi(), OIIO::TypeDesc::FLOAT, v.data());
    return v;
}

// What ffprobe says of a file's streams and tags, one "key=value" a line.
std::string Probe(const std::string& path) {
    return RunProgram({"ffprobe", "-v", "error", "-show_entries",
                       "stream=codec_type,codec_name,r_frame_rate,color_space,color_primaries,"
                       "color_transfer:stream_tags=timecode:format_tags=timecode",
                       "-of", "default=noprint_wrappers=1", path})
        .out;
}

TEST(MediaStills, EightBitValuesPassUntouchedAndLinearFormatsComeBackExactly) {
    ScratchDir dir;
    const Frame f = AllAlphas();
    for (const std::string ext : {"png", "tif", "tga"}) {
        // In: a file written by another program with straight alpha.
        WriteRgba(dir / ("in." + ext), f, OIIO::TypeDesc::UINT8, true,
                  [](uint8_t b, float) { return b / 255.0f; });
        EXPECT_EQ(orvo::ReadImage(dir / ("in." + ext), FrameRole::kColour).px, f.px) << ext;
        // Out: the file holds the bytes as given, not dissociated.
        orvo::WriteImage(dir / ("out." + ext), f);
        const std::vector<float> v = RawFloats(dir / ("out." + ext));
        ASSERT_EQ(v.size(), f.px.size()) << ext;
        size_t wrong = 0;
        for (size_t i = 0; i < v.size(); ++i)
            wrong += std::lround(v[i] * 255) != f.px[(i & ~size_t(3)) + (i + 1) % 4];
        EXPECT_EQ(wrong, 0u) << ext;
    }
    // Linear formats are written linear with associated alpha, and come back exactly.
    orvo::WriteImage(dir / "out.exr", f);
    const std::vector<float> lin = RawFloats(dir / "out.exr");
    ASSERT_EQ(lin.size(), f.px.size());
    // Pixel (255, 32): alpha 255, red 128 -> linear 0.2158605; pixel (128, 0):
    // alpha 128, red 0, green 255 -> premultiplied 128/255.
    const float* opaque = &lin[(32 * 256 + 255) * 4];
    EXPECT_NEAR(opaque[0], 0.2158605f, 1e-6f);
    EXPECT_FLOAT_EQ(opaque[3], 1.0f);
    const float* half = &lin[128 * 4];
    EXPECT_FLOAT_EQ(half[1], 128 / 255.0f);
    EXPECT_FLOAT_EQ(half[3], 128 / 255.0f);
    // Read back: every pixel with alpha above 0 returns exactly.
    const Frame back = orvo::ReadImage(dir / "out.exr", FrameRole::kColour);
    for (size_t i = 0; i < f.px.size(); i += 4)
        if (f.px[i] != 0) {
            ASSERT_TRUE(std::equal(&f.px[i], &f.px[i] + 4, &back.px[i])) << i / 4;
        }
    for (int v8 = 0; v8 < 256; ++v8)
        EXPECT_EQ(orvo::LinearToSrgb(orvo::SrgbToLinear(uint8_t(v8))), v8);
}

TEST(MediaStills, DeeperFilesBecomeDisplayValuesOnPurpose) {
    ScratchDir dir;
    const Frame f = AllAlphas();
    const struct {
        const char* name;
        OIIO::TypeDesc type;
        bool linear; // linear and premultiplied, as EXR holds it
        const char* says;
    } cases[] = {
        {"deep.png", OIIO::TypeDesc::UINT16, false, "uint16 values rounded to 8 bits"},
        {"deep.tif", OIIO::TypeDesc::UINT16, false, "uint16 values rounded to 8 bits"},
        {"lin.exr", OIIO::TypeDesc::HALF, true, "half linear values encoded as 8-bit sRGB"},
        {"lin32.exr", OIIO::TypeDesc::FLOAT, true, "float linear values encoded as 8-bit sRGB"},
    };
    for (const auto& c : cases) {
        WriteRgba(dir / c.name, f, c.type, !c.linear, [&](uint8_t b, float a) {
            return c.linear ? orvo::SrgbToLinear(b) * a : b / 255.0f;
        });
        orvo::ReadNotes notes;
        const Frame got = orvo::ReadImage(dir / c.name, FrameRole::kColour, &notes);
        EXPECT_EQ(notes.conversion, c.says);
        // Exact where the file's precision allows it: the colour of a pixel
        // premultiplied by a small alpha in half floats is only near; no
        // colour survives under alpha 0.
        const bool half = c.type == OIIO::TypeDesc::HALF;
        size_t off = 0;
        for (size_t i = 0; i < f.px.size(); ++i) {
            const uint8_t alpha = f.px[i & ~size_t(3)];
            if (c.linear && alpha == 0 && (i & 3) != 0) continue;
            off += std::abs(int(got.px[i]) - int(f.px[i])) > (half && alpha < 16 ? 8 : 0);
        }
        EXPECT_EQ(off, 0u) << c.name;
    }
    // An 8-bit file reports no conversion.
    orvo::WriteImage(dir / "plain.png", f);
    orvo::ReadNotes notes;
    orvo::ReadImage(dir / "plain.png", FrameRole::kColour, &notes);
    EXPECT_EQ(notes.conversion + notes.damage, "");
}

TEST(MediaVideo, TimecodesMoveOnAsDisplayed) {
    const struct {
        const char *tc, *rate;
        long frames;
        const char* want;
    } cases[] = {
        {"01:00:00:00", "25/1", 30, "01:00:01:05"},
        {"10:59:59:23", "24/1", 1, "11:00:00:00"},
        {"23:59:59:24", "25/1", 1, "00:00:00:00"},
        {"00:00:59;29", "30000/1001", 1, "00:01:00;02"}, // ;00 and ;01 are skipped
        {"00:09:59;29", "30000/1001", 1, "00:10:00;00"}, // but not at a tenth minute
        {"00:01:00;02", "30000/1001", -1, "00:00:59;29"},
        {"00:00:00;00", "60000/1001", 3600, "00:01:00;04"},
        {"00:00:00:00", "30000/1001", 1800, "00:01:00:00"}, // non-drop at 29.97
        {"junk", "25/1", 1, ""},
        {"01:00:00:00", "0/0", 1, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(orvo::AdvanceTimecode(c.tc, c.rate, c.frames), c.want)
            << c.tc << " + " << c.frames;
}

TEST(MediaVideo, OutputsCarryRateAudioTimecodeColourAndMatte) {
    // A short tagged clip with sound and a timecode, as a camera or an edit delivers it.
    ScratchDir dir;
    const std::string clip = dir / "shot.mov";
    ASSERT_TRUE(Ffmpeg("-f lavfi -i color=c=0x3AC052:s=64x48:r=25:d=0.4,format=rgb24 -f lavfi "
                       "-i sine=frequency=440:duration=0.4 -vf "
                       "scale=out_color_matrix=bt709:out_range=tv -pix_fmt yuv420p -c:v libx264 "
                       "-colorspace bt709 -color_primaries bt709 -color_trc bt709 -color_range tv "
                       "-c:a aac -timecode 01:00:00:00 -shortest " +
                       clip));
    // Keyed whole to H.264 (the plan carries the clip's traits); frames 3-8
    // through the media layer to ProRes 4444 with a matte.
    orvo::WriteImage(dir / "bg.png", Solid(64, 48, 200, 40, 30));
    orvo::KeyOptions o;
    o.fg = clip;
    o.bg = dir / "bg.png";
    o.out = dir / "all.mp4";
    o.show = "Foreground";
    ASSERT_EQ(Key(o).status, 0);
    auto src = orvo::OpenSource(clip, FrameRole::kColour, orvo::ParseFrameRange("3-8"), false);
    auto sink = orvo::OpenSink(dir / "late.mov", *src, "prores");
    Frame f;
    for (int n = 1; src->Next(&f); ++n) {
        // The colour decoded with the clip's matrix.
        EXPECT_NEAR(f.pixel(30, 20)[1], 58, 3);
        EXPECT_NEAR(f.pixel(30, 20)[2], 192, 3);
        EXPECT_NEAR(f.pixel(30, 20)[3], 82, 3);
        for (int y = 0; y < f.height; ++y)
            for (int x = 0; x < f.width; ++x)
                f.pixel(x, y)[0] = uint8_t(x * 4);
        sink->Write(n, f);
    }
    sink->Finish();
    const struct {
        const char *out, *codec, *timecode;
        int alpha;
    } cases[] = {{"all.mp4", "h264", "01:00:00:00", 255},
                 {"late.mov", "prores", "01:00:00:02", 120}};
    for (const auto& c : cases) {
        const std::string p = Probe(dir / c.out);
        for (const std::string& part :
             {"codec_name=" + std::string(c.codec), "timecode=" + std::string(c.timecode),
              std::string("codec_name=aac"), std::string("r_frame_rate=25/1"),
              std::string("color_space=bt709\ncolor_transfer=bt709\ncolor_primaries=bt709")})
            EXPECT_TRUE(Contains(p, part)) << c.out << ": " << part << "\n" << p;
        // Encoded with the matrix it declares: the colour (and ProRes 4444's matte) comes back.
        const RunResult r = RunProgram({"ffmpeg", "-v", "error", "-i", dir / c.out, "-frames:v",
                                        "1", "-f", "rawvideo", "-pix_fmt", "rgba", "-"});
        ASSERT_EQ(r.out.size(), 64u * 48 * 4) << r.err;
        const uint8_t* px = reinterpret_cast<const uint8_t*>(r.out.data()) + (20 * 64 + 30) * 4;
        EXPECT_NEAR(px[0], 58, 3) << c.out;
        EXPECT_NEAR(px[1], 192, 3) << c.out;
        EXPECT_NEAR(px[2], 82, 3) << c.out;
        EXPECT_NEAR(px[3], c.alpha, 1) << c.out;
    }
}

TEST(MediaDemo, TheViewsSheetShowsLightsAndKeysItsColours) {
    ScratchDir dir;
    orvo::Effect effect(ORVO_TEST_PLUGIN);
    ASSERT_EQ(orvo::RunDemo(dir.path(), effect), orvo::kExitOk);
    const Frame sheet = ReadBack(dir / "views.png");
    size_t lit = 0, magenta = 0;
    for (size_t i = 0; i < sheet.px.size(); i += 4) {
        const uint8_t r = sheet.px[i + 1], g = sheet.px[i + 2], b = sheet.px[i + 3];
        lit += r > 200 && g > 200 && b < 40; // the Lights view's lit subject
        magenta += r == 255 && g == 0 && b == 255;
    }
    // At the effect's defaults only the key's swatch (144 pixels) would be yellow.
    EXPECT_GT(lit, 600u);
    // The colour keys are drawn: the Lights key's magenta swatch (12 x 12 inside its rim).
    EXPECT_EQ(magenta, 144u);
    EXPECT_EQ(ReadBack(dir / "composite.png").width, 1280);
}

} // namespace
