#include "image_io.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>

#include "errors.h"
#include "files.h"
#include "text.h"

namespace orvo {

namespace {

std::string OneLine(std::string s) {
    for (char& c : s)
        if (c == '\n' || c == '\r') c = ' ';
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

// Floats hold scene-linear light unless the file names a display encoding.
bool HoldsLinearLight(const OIIO::ImageSpec& header) {
    const OIIO::TypeDesc t = header.format;
    if (t.basetype != OIIO::TypeDesc::HALF && t.basetype != OIIO::TypeDesc::FLOAT &&
        t.basetype != OIIO::TypeDesc::DOUBLE)
        return false;
    const std::string cs = Lower(header.get_string_attribute("oiio:ColorSpace"));
    if (cs.empty() || cs.find("lin") != std::string::npos) return true;
    for (const char* display : {"srgb", "rec709", "gamma", "g22", "g18"})
        if (cs.find(display) != std::string::npos) return false;
    return true;
}

bool AllEightBit(const OIIO::ImageSpec& header) {
    if (header.format != OIIO::TypeDesc::UINT8) return false;
    for (const OIIO::TypeDesc& t : header.channelformats)
        if (t != OIIO::TypeDesc::UINT8) return false;
    return true;
}

uint8_t UnitToByte(float v) {
    if (!(v > 0.0f)) return 0; // NaN too
    if (v >= 1.0f) return 255;
    return uint8_t(v * 255.0f + 0.5f);
}

// Makes sure a file another library wrote has reached the disk.
bool SyncFile(const std::string& path, std::string* why) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *why = std::strerror(errno);
        return false;
    }
    bool ok = ::fsync(fd) == 0 || errno == EINVAL;
    if (!ok) *why = std::strerror(errno);
    ::close(fd);
    return ok;
}

} // namespace

float SrgbToLinear(uint8_t v) {
    static const std::array<float, 256> table = [] {
        std::array<float, 256> t{};
        for (int i = 0; i < 256; ++i) {
            const double c = i / 255.0;
            t[size_t(i)] = float(c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
        }
        return t;
    }();
    return table[v];
}

uint8_t LinearToSrgb(float v) {
    if (!(v > 0.0f)) return 0;
    if (v >= 1.0f) return 255;
    const double c = v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(double(v), 1.0 / 2.4) - 0.055;
    return uint8_t(std::min(255.0, c * 255.0 + 0.5));
}

bool IsLinearFormat(const std::string& path) {
    auto out = OIIO::ImageOutput::create(path);
    if (!out) return false;
    const std::string name = out->format_name();
    return name == "openexr" || name == "hdr";
}

Frame ReadImage(const std::string& path, FrameRole role, ReadNotes* notes) {
    // Keep the file's straight alpha as it is: no association on reading.
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    // Opening fills in the file's header: size, channels, formats, colour space.
    OIIO::ImageSpec header;
    auto in = OIIO::ImageInput::create(path, false, &config);
    if (!in || !in->open(path, header, config)) {
        std::string why = OneLine(in ? in->geterror() : OIIO::geterror());
        if (why.empty()) why = OneLine(OIIO::geterror());
        throw UsageError("cannot read \"" + path + "\"" + (why.empty() ? "" : ": " + why));
    }
    const int w = header.width, h = header.height, nch = header.nchannels;
    if (w <= 0 || h <= 0 || nch <= 0 || nch > 64 || w > 65535 || h > 65535)
        throw UsageError("cannot use \"" + path + "\": unsupported size " + std::to_string(w) +
                         "x" + std::to_string(h) + " with " + std::to_string(nch) + " channels");
    const bool eightBit = AllEightBit(header);
    const bool linear = HoldsLinearLight(header);
    int alpha = header.alpha_channel;
    if (alpha < 0 && (nch == 2 || nch == 4)) alpha = nch - 1;
    const size_t count = size_t(w) * size_t(h);

    Frame f;
    std::vector<uint8_t> bytes;
    std::vector<float> floats;
    try {
        f = Frame(w, h);
        if (eightBit)
            bytes.resize(count * size_t(nch));
        else
            floats.resize(count * size_t(nch));
    } catch (const std::bad_alloc&) {
        throw UsageError("cannot read \"" + path + "\": " + std::to_string(w) + "x" +
                         std::to_string(h) + " is larger than the memory available");
    }
    const bool ok = eightBit ? in->read_image(0, 0, 0, nch, OIIO::TypeDesc::UINT8, bytes.data())
                             : in->read_image(0, 0, 0, nch, OIIO::TypeDesc::FLOAT, floats.data());
    std::string complaint = OneLine(in->geterror());
    if (!ok)
        throw UsageError("cannot read \"" + path + "\" (truncated or corrupt?)" +
                         (complaint.empty() ? "" : ": " + complaint));
    in->close();
    if (notes) {
        notes->damage = complaint;
        notes->conversion.clear();
    }

    uint8_t* d = f.px.data();
    if (eightBit) {
        const uint8_t* s = bytes.data();
        for (size_t i = 0; i < count; ++i, s += nch, d += 4) {
            const uint8_t r = s[0];
            const uint8_t g = nch >= 3 ? s[1] : s[0];
            const uint8_t b = nch >= 3 ? s[2] : s[0];
            d[0] = alpha >= 0 ? s[alpha] : role == FrameRole::kMatte ? s[0] : 255;
            d[1] = r;
            d[2] = g;
            d[3] = b;
        }
        return f;
    }

    // Deeper values: straight colour (dividing out an associated alpha), then
    // 8-bit display values.
    const bool associated =
        alpha >= 0 && header.get_int_attribute("oiio:UnassociatedAlpha", 0) == 0;
    if (notes)
        notes->conversion =
            std::string(header.format.c_str()) +
            (linear ? " linear values encoded as 8-bit sRGB" : " values rounded to 8 bits");
    const float* s = floats.data();
    for (size_t i = 0; i < count; ++i, s += nch, d += 4) {
        const float a = alpha >= 0 ? std::min(1.0f, std::max(0.0f, s[alpha])) : 1.0f;
        const float scale = associated && a > 0.0f ? 1.0f / a : 1.0f;
        const float rgb[3] = {s[0], nch >= 3 ? s[1] : s[0], nch >= 3 ? s[2] : s[0]};
        for (int c = 0; c < 3; ++c)
            d[1 + c] = linear ? LinearToSrgb(rgb[c] * scale) : UnitToByte(rgb[c] * scale);
        d[0] = alpha >= 0 ? UnitToByte(a) : role == FrameRole::kMatte ? UnitToByte(s[0]) : 255;
    }
    return f;
}

void CheckImageOutput(const std::string& path) {
    if (!OIIO::ImageOutput::create(path)) {
        OIIO::geterror(); // the library's own wording adds nothing to ours
        throw UsageError("cannot write \"" + path + "\": no image format for the extension \"" +
                         Extension(path) + "\" (png, jpg, tif, exr, or a video: mov, mp4, mkv)");
    }
}

void WriteImage(const std::string& path, const Frame& frame) {
    CheckImageOutput(path);
    auto out = OIIO::ImageOutput::create(path);
    const std::string format = out->format_name();
    const bool linear = format == "openexr" || format == "hdr";
    const int nch = out->supports("alpha") ? 4 : 3;
    const size_t count = size_t(frame.width) * size_t(frame.height);
    const uint8_t* s = frame.px.data();
    std::vector<uint8_t> bytes;
    std::vector<float> floats;
    OIIO::ImageSpec layout;
    if (linear) {
        // Linear light with associated alpha, as these formats hold it. Float,
        // not half: premultiplied by a small alpha, half would lose 8-bit steps.
        layout = OIIO::ImageSpec(frame.width, frame.height, nch, OIIO::TypeDesc::FLOAT);
        layout.attribute("oiio:ColorSpace", "Linear");
        floats.resize(count * size_t(nch));
        float* d = floats.data();
        for (size_t i = 0; i < count; ++i, s += 4, d += nch) {
            const float a = nch == 4 ? s[0] / 255.0f : 1.0f;
            for (int c = 0; c < 3; ++c)
                d[c] = SrgbToLinear(s[1 + c]) * a;
            if (nch == 4) d[3] = a;
        }
    } else {
        // The bytes as they are: straight alpha, no dissociation on writing.
        layout = OIIO::ImageSpec(frame.width, frame.height, nch, OIIO::TypeDesc::UINT8);
        layout.attribute("oiio:UnassociatedAlpha", 1);
        bytes.resize(count * size_t(nch));
        uint8_t* d = bytes.data();
        for (size_t i = 0; i < count; ++i, s += 4, d += nch) {
            d[0] = s[1];
            d[1] = s[2];
            d[2] = s[3];
            if (nch == 4) d[3] = s[0];
        }
    }
    if (nch == 4) layout.alpha_channel = 3;
    const OIIO::TypeDesc type = linear ? OIIO::TypeDesc::FLOAT : OIIO::TypeDesc::UINT8;
    const void* data = linear ? static_cast<const void*>(floats.data()) : bytes.data();

    // Encode into memory where the format allows, then write the file with
    // every step checked; otherwise the library writes a temporary file that
    // is synced before it is renamed.
    OIIO::Filesystem::IOVecOutput memory;
    const bool inMemory = out->supports("ioproxy");
    if (inMemory) out->set_ioproxy(&memory);
    const std::string temp = inMemory ? path : TempPathFor(path);
    bool ok = out->open(temp, layout) && out->write_image(type, data);
    ok = out->close() && ok;
    std::string why = ok ? "" : OneLine(out->geterror());
    if (ok && inMemory) {
        ok = WriteFileAtomically(path, memory.buffer().data(), memory.buffer().size(), &why);
    } else if (ok) {
        ok = SyncFile(temp, &why);
        if (ok && !CommitTemp(temp, path)) {
            ok = false;
            why = std::string("rename of the finished file failed: ") + std::strerror(errno);
        }
    }
    if (!ok) {
        if (!inMemory) std::remove(temp.c_str());
        throw UsageError("cannot write \"" + path + "\"" + (why.empty() ? "" : ": " + why));
    }
}

Frame Downscale(const Frame& in, int factor) {
    if (factor <= 1) return in;
    const int w = (in.width + factor - 1) / factor, h = (in.height + factor - 1) / factor;
    Frame out(w, h);
    for (int y = 0; y < h; ++y) {
        const int y0 = y * factor, y1 = std::min(in.height, y0 + factor);
        for (int x = 0; x < w; ++x) {
            const int x0 = x * factor, x1 = std::min(in.width, x0 + factor);
            unsigned sum[4] = {0, 0, 0, 0};
            for (int yy = y0; yy < y1; ++yy) {
                const uint8_t* p = in.pixel(x0, yy);
                for (int xx = x0; xx < x1; ++xx, p += 4)
                    for (int c = 0; c < 4; ++c)
                        sum[c] += p[c];
            }
            const unsigned n = unsigned((y1 - y0) * (x1 - x0));
            uint8_t* d = out.pixel(x, y);
            for (int c = 0; c < 4; ++c)
                d[c] = uint8_t((sum[c] + n / 2) / n);
        }
    }
    return out;
}

} // namespace orvo
