// The tool's media in-process: exact 8-bit straight values in and out, the
// deliberate conversion of deeper files, bad and short files, what a video
// output carries over from its source (rate, audio, timecode, colour), and
// the demo's views sheet.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <map>

#include <OpenImageIO/imageio.h>
#include <nlohmann/json.hpp>
#include <sys/resource.h>

#include "demo.h"
#include "effect.h"
#include "errors.h"
#include "image_io.h"
#include "key.h"
#include "media.h"
#include "subprocess.h"
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

// Writes RGBA bytes straight through OpenImageIO, saying the alpha is straight.
void WriteStraight(const std::string& path, const Frame& f) {
    OIIO::ImageSpec header(f.width, f.height, 4, OIIO::TypeDesc::UINT8);
    header.alpha_channel = 3;
    header.attribute("oiio:UnassociatedAlpha", 1);
    std::vector<uint8_t> rgba;
    for (size_t i = 0; i < f.px.size(); i += 4)
        rgba.insert(rgba.end(), {f.px[i + 1], f.px[i + 2], f.px[i + 3], f.px[i]});
    auto out = OIIO::ImageOutput::create(path);
    ASSERT_TRUE(out && out->open(path, header) &&
                out->write_image(OIIO::TypeDesc::UINT8, rgba.data()) && out->close());
}

// The file's channels as floats, without any alpha association.
std::vector<float> RawFloats(const std::string& path, OIIO::ImageSpec* header) {
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    auto in = OIIO::ImageInput::open(path, &config);
    if (!in) return {};
    *header = in->spec();
    std::vector<float> v(header->image_pixels() * size_t(header->nchannels));
    in->read_image(0, 0, 0, header->nchannels, OIIO::TypeDesc::FLOAT, v.data());
    return v;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// ffprobe's view of a file: "v.codec_name", "a.codec_name", "v.color_space",
// "timecode" (of any stream or the container), ...; "" when absent.
std::map<std::string, std::string> Probe(const std::string& path) {
    std::string out, err;
    orvo::RunCapture({"ffprobe", "-v", "error", "-show_entries",
                      "stream=codec_type,codec_name,pix_fmt,r_frame_rate,color_space,"
                      "color_primaries,color_transfer:stream_tags=timecode:format_tags=timecode",
                      "-of", "json", path},
                     &out, &err);
    std::map<std::string, std::string> found;
    nlohmann::json j = nlohmann::json::parse(out, nullptr, false);
    if (j.is_discarded()) return found;
    auto take = [&](const nlohmann::json& tags) {
        if (tags.is_object() && tags.contains("timecode")) found["timecode"] = tags["timecode"];
    };
    for (const nlohmann::json& s : j.value("streams", nlohmann::json::array())) {
        const std::string kind = s.value("codec_type", "") == "audio" ? "a." : "v.";
        for (const auto& item : s.items())
            if (item.value().is_string() && !found.count(kind + item.key()))
                found[kind + item.key()] = item.value().get<std::string>();
        take(s.value("tags", nlohmann::json()));
    }
    if (j.contains("format")) take(j["format"].value("tags", nlohmann::json()));
    return found;
}

bool Ffmpeg(std::vector<std::string> args) {
    args.insert(args.begin(), {"ffmpeg", "-v", "error", "-nostdin", "-y"});
    std::string out, err;
    return orvo::RunCapture(args, &out, &err) == 0;
}

} // namespace

TEST(MediaStills, EightBitStraightValuesPassUntouched) {
    ScratchDir dir;
    const Frame f = AllAlphas();
    for (const char* ext : {"png", "tif", "tga"}) {
        SCOPED_TRACE(ext);
        // In: a file written by another program with straight alpha.
        const std::string in = dir / (std::string("in.") + ext);
        WriteStraight(in, f);
        EXPECT_EQ(orvo::ReadImage(in, FrameRole::kColour).px, f.px);
        // Out: the file holds the bytes as given, not dissociated.
        const std::string out = dir / (std::string("out.") + ext);
        orvo::WriteImage(out, f);
        OIIO::ImageSpec header;
        std::vector<float> v = RawFloats(out, &header);
        ASSERT_EQ(v.size(), f.px.size());
        size_t wrong = 0;
        for (size_t i = 0; i < v.size(); i += 4)
            for (int c = 0; c < 4; ++c)
                wrong += std::lround(v[i + size_t(c)] * 255) != f.px[i + size_t((c + 1) % 4)];
        EXPECT_EQ(wrong, 0u);
    }
}

TEST(MediaStills, DeeperFilesBecomeDisplayValuesOnPurpose) {
    ScratchDir dir;
    const Frame f = AllAlphas();
    struct Case {
        const char* name;
        OIIO::TypeDesc type;
        bool linear, premultiplied;
        const char* says;
    };
    const Case cases[] = {
        {"deep.png", OIIO::TypeDesc::UINT16, false, false, "uint16 values rounded to 8 bits"},
        {"deep.tif", OIIO::TypeDesc::UINT16, false, false, "uint16 values rounded to 8 bits"},
        {"lin.exr", OIIO::TypeDesc::HALF, true, true, "half linear values encoded as 8-bit sRGB"},
        {"lin32.exr", OIIO::TypeDesc::FLOAT, true, true,
         "float linear values encoded as 8-bit sRGB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OIIO::ImageSpec header(f.width, f.height, 4, c.type);
        header.alpha_channel = 3;
        if (!c.premultiplied) header.attribute("oiio:UnassociatedAlpha", 1);
        std::vector<float> v;
        for (size_t i = 0; i < f.px.size(); i += 4) {
            const float a = f.px[i] / 255.0f;
            for (int ch = 1; ch <= 3; ++ch) {
                const uint8_t b = f.px[i + size_t(ch)];
                const float value = c.linear ? orvo::SrgbToLinear(b) : b / 255.0f;
                v.push_back(c.premultiplied ? value * a : value);
            }
            v.push_back(a);
        }
        const std::string path = dir / c.name;
        auto out = OIIO::ImageOutput::create(path);
        ASSERT_TRUE(out->open(path, header) && out->write_image(OIIO::TypeDesc::FLOAT, v.data()) &&
                    out->close());
        orvo::ReadNotes notes;
        Frame got = orvo::ReadImage(path, FrameRole::kColour, &notes);
        EXPECT_EQ(notes.conversion, c.says);
        // Exact where the file's precision allows it: the colour of a pixel
        // premultiplied by a small alpha in half floats is only near.
        size_t off = 0, far = 0;
        for (size_t i = 0; i < f.px.size(); ++i) {
            const int d = std::abs(int(got.px[i]) - int(f.px[i]));
            const bool hidden = c.premultiplied && f.px[i & ~size_t(3)] == 0 && (i & 3) != 0;
            if (hidden) continue; // no colour survives under alpha 0
            off += d > 0;
            far += d > (c.type == OIIO::TypeDesc::HALF && f.px[i & ~size_t(3)] < 16 ? 8 : 0);
        }
        EXPECT_EQ(far, 0u);
        if (c.type != OIIO::TypeDesc::HALF) {
            EXPECT_EQ(off, 0u);
        }
    }
    // An 8-bit file reports no conversion.
    orvo::WriteImage(dir / "plain.png", f);
    orvo::ReadNotes notes;
    orvo::ReadImage(dir / "plain.png", FrameRole::kColour, &notes);
    EXPECT_EQ(notes.conversion, "");
    EXPECT_EQ(notes.damage, "");
}

TEST(MediaStills, LinearFormatsAreWrittenLinearAndComeBackExactly) {
    ScratchDir dir;
    Frame f = AllAlphas();
    orvo::WriteImage(dir / "out.exr", f);
    OIIO::ImageSpec header;
    std::vector<float> v = RawFloats(dir / "out.exr", &header);
    EXPECT_EQ(header.get_string_attribute("oiio:ColorSpace"), "Linear");
    ASSERT_EQ(header.nchannels, 4);
    // Pixel (255, 32): alpha 255, red 128 -> linear 0.2158605; pixel (128, 0):
    // alpha 128, red 0, green 255 -> premultiplied 128/255.
    const float* opaque = &v[(32 * 256 + 255) * 4];
    EXPECT_NEAR(opaque[0], 0.2158605f, 1e-6f);
    EXPECT_FLOAT_EQ(opaque[3], 1.0f);
    const float* half = &v[128 * 4];
    EXPECT_FLOAT_EQ(half[1], 128 / 255.0f);
    EXPECT_FLOAT_EQ(half[3], 128 / 255.0f);
    // Read back: every pixel with alpha above 0 returns exactly.
    Frame back = orvo::ReadImage(dir / "out.exr", FrameRole::kColour);
    for (size_t i = 0; i < f.px.size(); i += 4)
        if (f.px[i] != 0) {
            ASSERT_TRUE(std::equal(&f.px[i], &f.px[i] + 4, &back.px[i])) << i / 4;
        }
    for (int v8 = 0; v8 < 256; ++v8)
        EXPECT_EQ(orvo::LinearToSrgb(orvo::SrgbToLinear(uint8_t(v8))), v8);
    EXPECT_TRUE(orvo::IsLinearFormat("a.exr"));
    EXPECT_FALSE(orvo::IsLinearFormat("a.png"));
}

TEST(MediaStills, BadFilesAreRefusedNamingTheFile) {
    ScratchDir dir;
    Frame f = GreenPlate(160, 90);
    orvo::WriteImage(dir / "good.png", f);
    orvo::WriteImage(dir / "good.tif", f);
    orvo::WriteImage(dir / "good.exr", f);
    orvo::WriteImage(dir / "good.jpg", f);
    const std::string png = ReadBytes(dir / "good.png"), tif = ReadBytes(dir / "good.tif"),
                      exr = ReadBytes(dir / "good.exr"), jpg = ReadBytes(dir / "good.jpg");
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case refused[] = {
        {"empty.png", ""},
        {"text.png", "this is not a picture\n"},
        {"short.png", png.substr(0, png.size() / 2)},
        {"header.png", png.substr(0, 40)},
        {"short.tif", tif.substr(0, tif.size() / 3)},
        {"short.exr", exr.substr(0, exr.size() / 2)},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / c.name;
        WriteBytes(path, c.bytes);
        try {
            orvo::ReadImage(path, FrameRole::kColour);
            ADD_FAILURE() << "read without complaint";
        } catch (const orvo::ToolError& e) {
            EXPECT_EQ(e.code(), orvo::kExitUsage);
            EXPECT_TRUE(Contains(e.what(), path)) << e.what();
        }
    }
    // A file named for another format is read by what it holds.
    WriteBytes(dir / "jpeg-named.exr", jpg);
    EXPECT_EQ(orvo::ReadImage(dir / "jpeg-named.exr", FrameRole::kColour).width, 160);
    // A cut JPEG still decodes (grey below the cut): a picture with a warning.
    WriteBytes(dir / "short.jpg", jpg.substr(0, jpg.size() / 2));
    orvo::ReadNotes notes;
    Frame got = orvo::ReadImage(dir / "short.jpg", FrameRole::kColour, &notes);
    EXPECT_EQ(got.width, 160);
    EXPECT_TRUE(Contains(notes.damage, "Premature end")) << notes.damage;
}

// A file size limit makes writes fail the way a full disk does.
class FullDisk {
  public:
    explicit FullDisk(rlim_t bytes) {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit small = saved_;
        small.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &small);
    }
    ~FullDisk() { setrlimit(RLIMIT_FSIZE, &saved_); }

  private:
    rlimit saved_;
};

TEST(MediaStills, AShortWriteLeavesNothingAndKeepsTheOldFile) {
    ScratchDir dir;
    Frame noise(300, 200);
    for (size_t i = 0; i < noise.px.size(); ++i)
        noise.px[i] = uint8_t((i * 2654435761u) >> 13);
    for (const char* ext : {"png", "jpg", "tif", "exr", "dpx"}) {
        SCOPED_TRACE(ext);
        const std::string path = dir / (std::string("out.") + ext);
        WriteBytes(path, "an earlier result");
        try {
            FullDisk full(4096);
            orvo::WriteImage(path, noise);
            ADD_FAILURE() << "a short write passed for success";
        } catch (const orvo::ToolError& e) {
            EXPECT_EQ(e.code(), orvo::kExitUsage);
            EXPECT_TRUE(Contains(e.what(), path)) << e.what();
        }
        EXPECT_TRUE(ReadBytes(path) == "an earlier result");
        EXPECT_EQ(dir.Files().size(), 1u);
        std::remove(path.c_str());
    }
    // Unwritable extensions are known before anything is rendered.
    EXPECT_THROW(orvo::CheckImageOutput(dir / "out.xyz"), orvo::ToolError);
    EXPECT_NO_THROW(orvo::CheckImageOutput(dir / "out.tiff"));
}

TEST(MediaVideo, TimecodesMoveOnAsDisplayed) {
    struct Case {
        const char* tc;
        const char* rate;
        long frames;
        const char* want;
    };
    const Case cases[] = {
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
    for (const Case& c : cases)
        EXPECT_EQ(orvo::AdvanceTimecode(c.tc, c.rate, c.frames), c.want)
            << c.tc << " + " << c.frames;
}

TEST(MediaVideo, CodecChoicesAndTheirContainers) {
    using orvo::VideoCodec;
    EXPECT_EQ(orvo::ParseVideoCodec(""), VideoCodec::kAuto);
    EXPECT_EQ(orvo::ParseVideoCodec("PNG"), VideoCodec::kPng);
    EXPECT_EQ(orvo::ParseVideoCodec("ProRes"), VideoCodec::kProRes);
    EXPECT_THROW(orvo::ParseVideoCodec("h265"), orvo::ToolError);
    EXPECT_NO_THROW(orvo::CheckVideoOutput("a.mov", VideoCodec::kProRes));
    EXPECT_NO_THROW(orvo::CheckVideoOutput("a.mp4", VideoCodec::kAuto));
    EXPECT_THROW(orvo::CheckVideoOutput("a.mp4", VideoCodec::kProRes), orvo::ToolError);
}

// A short tagged clip with sound and a timecode, as a camera or an edit delivers it.
struct TaggedClip {
    ScratchDir dir;
    std::string path = dir / "shot.mov";
    TaggedClip() {
        EXPECT_TRUE(Ffmpeg({"-f",
                            "lavfi",
                            "-i",
                            "color=c=0x3AC052:s=64x48:r=25:d=0.4,format=rgb24",
                            "-f",
                            "lavfi",
                            "-i",
                            "sine=frequency=440:duration=0.4",
                            "-vf",
                            "scale=out_color_matrix=bt709:out_range=tv",
                            "-pix_fmt",
                            "yuv420p",
                            "-c:v",
                            "libx264",
                            "-colorspace",
                            "bt709",
                            "-color_primaries",
                            "bt709",
                            "-color_trc",
                            "bt709",
                            "-color_range",
                            "tv",
                            "-c:a",
                            "aac",
                            "-timecode",
                            "01:00:00:00",
                            "-shortest",
                            path}));
    }
};

TEST(MediaVideo, OutputsCarryRateAudioTimecodeAndColour) {
    TaggedClip clip;
    struct Case {
        const char* out;
        const char* codec;
        const char* frames; // "" for all
        const char* videoCodec;
        const char* timecode;
    };
    const Case cases[] = {
        {"all.mp4", "", "", "h264", "01:00:00:00"},
        {"late.mov", "prores", "3-8", "prores", "01:00:00:02"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.out);
        orvo::FrameRange range;
        if (*c.frames) range = orvo::ParseFrameRange(c.frames);
        auto src = orvo::OpenSource(clip.path, FrameRole::kColour, range, false);
        const std::string out = clip.dir / c.out;
        auto sink = orvo::OpenSink(out, *src, c.codec);
        Frame f;
        int n = 0;
        while (src->Next(&f)) {
            // The colour decoded with the clip's matrix.
            EXPECT_NEAR(f.pixel(30, 20)[1], 58, 3);
            EXPECT_NEAR(f.pixel(30, 20)[2], 192, 3);
            EXPECT_NEAR(f.pixel(30, 20)[3], 82, 3);
            for (int y = 0; y < f.height; ++y)
                for (int x = 0; x < f.width; ++x)
                    f.pixel(x, y)[0] = uint8_t(x * 4); // a matte, for the codecs that keep one
            sink->Write(++n, f);
        }
        sink->Finish();
        std::map<std::string, std::string> p = Probe(out);
        EXPECT_EQ(p["v.codec_name"], c.videoCodec);
        EXPECT_EQ(p["v.r_frame_rate"], "25/1");
        EXPECT_EQ(p["v.color_space"], "bt709");
        EXPECT_EQ(p["v.color_primaries"], "bt709");
        EXPECT_EQ(p["v.color_transfer"], "bt709");
        EXPECT_EQ(p["a.codec_name"], "aac");
        EXPECT_EQ(p["timecode"], c.timecode);
        // Encoded with the matrix it declares: the colour comes back (and
        // ProRes 4444 keeps the matte).
        std::string rgba, err;
        orvo::RunCapture({"ffmpeg", "-v", "error", "-i", out, "-frames:v", "1", "-f", "rawvideo",
                          "-pix_fmt", "rgba", "-"},
                         &rgba, &err);
        ASSERT_EQ(rgba.size(), 64u * 48 * 4) << err;
        const uint8_t* p30 = reinterpret_cast<const uint8_t*>(rgba.data()) + (20 * 64 + 30) * 4;
        EXPECT_NEAR(p30[0], 58, 3);
        EXPECT_NEAR(p30[1], 192, 3);
        EXPECT_NEAR(p30[2], 82, 3);
        EXPECT_NEAR(p30[3], std::string(c.videoCodec) == "prores" ? 120 : 255, 1);
    }
}

TEST(MediaVideo, BrokenVideosAreRefusedNamingTheFile) {
    ScratchDir dir;
    // Two sizes one after the other in one transport stream.
    ASSERT_TRUE(Ffmpeg(
        {"-f", "lavfi", "-i", "testsrc=s=64x48:r=10:d=0.3", "-c:v", "mpeg2video", dir / "a.ts"}));
    ASSERT_TRUE(Ffmpeg(
        {"-f", "lavfi", "-i", "testsrc=s=80x48:r=10:d=0.3", "-c:v", "mpeg2video", dir / "b.ts"}));
    WriteBytes(dir / "ab.ts", ReadBytes(dir / "a.ts") + ReadBytes(dir / "b.ts"));
    ASSERT_TRUE(Ffmpeg(
        {"-f", "lavfi", "-i", "testsrc=s=64x48:r=10:d=1", "-c:v", "libx264", dir / "whole.mp4"}));
    const std::string mp4 = ReadBytes(dir / "whole.mp4");
    WriteBytes(dir / "cut.mp4", mp4.substr(0, mp4.size() / 2));
    WriteBytes(dir / "text.mp4", "not a video at all\n");
    struct Case {
        const char* name;
        const char* says;
    };
    const Case cases[] = {
        {"ab.ts", "the frame size changes from 64x48 to 80x48"},
        {"cut.mp4", "cannot read video"},
        {"text.mp4", "cannot read video"},
        {"missing.mp4", "no such file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / c.name;
        try {
            orvo::VideoReader r(path);
            Frame f;
            while (r.Next(&f, false)) {
            }
            ADD_FAILURE() << "read to the end without complaint";
        } catch (const orvo::ToolError& e) {
            EXPECT_EQ(e.code(), orvo::kExitUsage);
            EXPECT_TRUE(Contains(e.what(), path)) << e.what();
            EXPECT_TRUE(Contains(e.what(), c.says)) << e.what();
        }
    }
}

TEST(MediaVideo, AFullDiskFailsTheVideoAndLeavesNothing) {
    ScratchDir dir;
    Frame f(128, 64);
    for (size_t i = 0; i < f.px.size(); ++i)
        f.px[i] = uint8_t((i * 2654435761u) >> 13);
    WriteBytes(dir / "out.mkv", "an earlier result");
    try {
        FullDisk full(4096);
        orvo::VideoWriter w(dir / "out.mkv", f.width, f.height, orvo::VideoTraits());
        for (int i = 0; i < 10; ++i)
            w.Write(f);
        w.Finish();
        ADD_FAILURE() << "a short write passed for success";
    } catch (const orvo::ToolError& e) {
        EXPECT_EQ(e.code(), orvo::kExitUsage);
        EXPECT_TRUE(Contains(e.what(), "out.mkv")) << e.what();
    }
    EXPECT_TRUE(ReadBytes(dir / "out.mkv") == "an earlier result");
    EXPECT_EQ(dir.Files().size(), 1u);
}

TEST(MediaDemo, TheViewsSheetShowsLightsAndKeysItsColours) {
    ScratchDir dir;
    orvo::Effect effect(ORVO_TEST_PLUGIN);
    ASSERT_EQ(orvo::RunDemo(dir.path(), effect), orvo::kExitOk);
    Frame sheet = orvo::ReadImage(dir / "views.png", FrameRole::kColour);
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
    EXPECT_EQ(orvo::ReadImage(dir / "composite.png", FrameRole::kColour).width, 1280);
}

TEST(MediaVideo, AKeyedVideoKeepsItsSoundAndTags) {
    TaggedClip clip;
    orvo::WriteImage(clip.dir / "bg.png", Solid(64, 48, 200, 40, 30));
    orvo::KeyOptions o;
    o.fg = clip.path;
    o.bg = clip.dir / "bg.png";
    o.out = clip.dir / "keyed.mov";
    o.codec = "ProRes";
    o.sets = {"Chroma Color=58,192,82"};
    o.quiet = true;
    orvo::Effect effect(ORVO_TEST_PLUGIN);
    ASSERT_EQ(orvo::RunKey(o, effect), orvo::kExitOk);
    std::map<std::string, std::string> p = Probe(o.out);
    EXPECT_EQ(p["v.codec_name"], "prores");
    EXPECT_EQ(p["v.r_frame_rate"], "25/1");
    EXPECT_EQ(p["v.color_space"], "bt709");
    EXPECT_EQ(p["a.codec_name"], "aac");
    EXPECT_EQ(p["timecode"], "01:00:00:00");
}
