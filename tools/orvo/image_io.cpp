#include "image_io.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include <OpenImageIO/imageio.h>

#include "errors.h"
#include "files.h"

namespace orvo {

namespace {

std::string OneLine(std::string s) {
    for (char& c : s)
        if (c == '\n' || c == '\r') c = ' ';
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

} // namespace

Frame ReadImage(const std::string& path, FrameRole role) {
    auto in = OIIO::ImageInput::open(path);
    if (!in) {
        std::string why = OneLine(OIIO::geterror());
        throw UsageError("cannot read \"" + path + "\"" + (why.empty() ? "" : ": " + why));
    }
    const OIIO::ImageSpec layout = in->spec_dimensions(0);
    int w = layout.width, h = layout.height, nch = layout.nchannels;
    if (w <= 0 || h <= 0 || nch <= 0 || w > 65535 || h > 65535)
        throw UsageError("cannot use \"" + path + "\": unsupported size " + std::to_string(w) +
                         "x" + std::to_string(h));
    std::vector<uint8_t> data(size_t(w) * size_t(h) * size_t(nch));
    if (!in->read_image(0, 0, 0, nch, OIIO::TypeDesc::UINT8, data.data())) {
        std::string why = OneLine(in->geterror());
        throw UsageError("cannot read \"" + path + "\" (truncated or corrupt?)" +
                         (why.empty() ? "" : ": " + why));
    }
    in->close();

    int alpha = layout.alpha_channel;
    if (alpha < 0 && (nch == 2 || nch == 4)) alpha = nch - 1;
    Frame f(w, h);
    const size_t count = size_t(w) * size_t(h);
    const uint8_t* s = data.data();
    uint8_t* d = f.px.data();
    for (size_t i = 0; i < count; ++i, s += nch, d += 4) {
        uint8_t r = s[0];
        uint8_t g = nch >= 3 ? s[1] : s[0];
        uint8_t b = nch >= 3 ? s[2] : s[0];
        uint8_t a;
        if (role == FrameRole::kMatte)
            a = alpha >= 0 ? s[alpha] : s[0];
        else
            a = alpha >= 0 ? s[alpha] : 255;
        d[0] = a;
        d[1] = r;
        d[2] = g;
        d[3] = b;
    }
    return f;
}

void WriteImage(const std::string& path, const Frame& frame) {
    auto out = OIIO::ImageOutput::create(path);
    if (!out) {
        std::string why = OneLine(OIIO::geterror());
        throw UsageError("cannot write \"" + path + "\": no image format for its extension" +
                         (why.empty() ? "" : " (" + why + ")"));
    }
    const int nch = out->supports("alpha") ? 4 : 3;
    OIIO::ImageSpec layout(frame.width, frame.height, nch, OIIO::TypeDesc::UINT8);
    if (nch == 4) layout.alpha_channel = 3;
    std::vector<uint8_t> data(size_t(frame.width) * size_t(frame.height) * size_t(nch));
    const uint8_t* s = frame.px.data();
    uint8_t* d = data.data();
    for (size_t i = 0, n = size_t(frame.width) * size_t(frame.height); i < n;
         ++i, s += 4, d += nch) {
        d[0] = s[1];
        d[1] = s[2];
        d[2] = s[3];
        if (nch == 4) d[3] = s[0];
    }
    std::string temp = TempPathFor(path);
    bool ok = out->open(temp, layout) && out->write_image(OIIO::TypeDesc::UINT8, data.data());
    ok = out->close() && ok;
    if (!ok) {
        std::string why = OneLine(out->geterror());
        std::remove(temp.c_str());
        throw Failure("cannot write \"" + path + "\"" + (why.empty() ? "" : ": " + why));
    }
    if (!CommitTemp(temp, path)) {
        std::remove(temp.c_str());
        throw Failure("cannot write \"" + path + "\": rename of the finished file failed");
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
