#include "demo.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "effect.h"
#include "errors.h"
#include "files.h"
#include "font.h"
#include "image_io.h"
#include "params.h"

namespace fs = std::filesystem;

namespace orvo {

namespace {

constexpr const char* kPlate = "plate-green-1280x720.png";
constexpr const char* kBackground = "background-lake-sunset-1280x720.jpg";

// The demo's settings: a key colour picked on the backdrop between its
// brighter left and darker right; lights counted from 30 % of the way above
// the backing (at the defaults nothing in this plate is lit enough to show
// in the Lights view, which would stay flat grey).
const std::pair<const char*, const char*> kSettings[] = {
    {"Chroma Color", "58,192,82"},
    {"Light Brightness", "30"},
    {"Light Chroma", "30"},
};
constexpr uint8_t kBackingBlue = 82; // of the key colour: the Transparency view's backing

constexpr int kLabelHeight = 24, kGap = 8, kTextScale = 2, kReduce = 3, kSwatch = 14;

// What the colours of the coded views mean, by view name.
std::vector<Swatch> ColourKey(const std::string& view) {
    if (view == "Transparency")
        return {{0, 0, 0, "opaque"}, {0, 128, 128, "partly"}, {0, 0, kBackingBlue, "backing"}};
    if (view == "Shadows")
        return {
            {255, 255, 255, "none"}, {128, 128, 128, "on subject"}, {64, 64, 255, "on backing"}};
    if (view == "Lights")
        return {{100, 100, 100, "none"}, {227, 227, 0, "on subject"}, {255, 0, 255, "on backing"}};
    return {};
}

void FillRect(Frame* f, int x0, int y0, int w, int h, uint8_t r, uint8_t g, uint8_t b) {
    for (int y = std::max(0, y0); y < std::min(f->height, y0 + h); ++y)
        for (int x = std::max(0, x0); x < std::min(f->width, x0 + w); ++x) {
            uint8_t* p = f->pixel(x, y);
            p[0] = 255;
            p[1] = r;
            p[2] = g;
            p[3] = b;
        }
}

} // namespace

std::string FindDataDir() {
    if (const char* env = std::getenv("ORVO_DATA"); env && *env) return env;
#ifdef ORVO_DATA_DIR
    return ORVO_DATA_DIR;
#else
    return "data";
#endif
}

Frame TileViews(const std::vector<Frame>& views, const std::vector<std::string>& labels,
                const std::vector<std::vector<Swatch>>& keys, int columns) {
    int tw = 0, th = 0;
    for (const Frame& v : views) {
        tw = std::max(tw, v.width);
        th = std::max(th, v.height);
    }
    const int n = int(views.size());
    const int rows = (n + columns - 1) / columns;
    bool anyKey = false;
    for (const auto& k : keys)
        anyKey = anyKey || !k.empty();
    const int cellH = kLabelHeight + th + (anyKey ? kLabelHeight : 0);
    Frame sheet(columns * tw + (columns + 1) * kGap, rows * cellH + (rows + 1) * kGap);
    for (size_t i = 0; i < sheet.px.size(); i += 4) {
        sheet.px[i] = 255;
        sheet.px[i + 1] = sheet.px[i + 2] = sheet.px[i + 3] = 32;
    }
    for (int i = 0; i < n; ++i) {
        const int cx = kGap + (i % columns) * (tw + kGap);
        const int cy = kGap + (i / columns) * (cellH + kGap);
        const Frame& v = views[size_t(i)];
        for (int y = 0; y < v.height; ++y) {
            const uint8_t* s = v.pixel(0, y);
            uint8_t* d = sheet.pixel(cx, cy + kLabelHeight + y);
            for (int x = 0; x < v.width; ++x, s += 4, d += 4) {
                d[0] = 255; // the sheet is opaque whatever the view's alpha
                d[1] = s[1];
                d[2] = s[2];
                d[3] = s[3];
            }
        }
        if (size_t(i) < labels.size()) {
            const int ty = cy + (kLabelHeight - kGlyphHeight * kTextScale) / 2;
            DrawText(&sheet, cx + 2, ty, labels[size_t(i)], kTextScale, 235, 235, 235);
        }
        if (size_t(i) < keys.size()) {
            // Swatches with a light rim (black and grey must show on the dark sheet).
            const int ky = cy + kLabelHeight + th + (kLabelHeight - kSwatch) / 2;
            int x = cx + 2;
            for (const Swatch& sw : keys[size_t(i)]) {
                FillRect(&sheet, x, ky, kSwatch, kSwatch, 235, 235, 235);
                FillRect(&sheet, x + 1, ky + 1, kSwatch - 2, kSwatch - 2, sw.red, sw.green,
                         sw.blue);
                x += kSwatch + 4;
                DrawText(&sheet, x, ky + (kSwatch - 7 * kTextScale) / 2, sw.meaning, kTextScale,
                         235, 235, 235);
                x += TextWidth(sw.meaning, kTextScale) + 12;
            }
        }
    }
    return sheet;
}

int RunDemo(const std::string& dir, Effect& effect) {
    const fs::path data(FindDataDir());
    const std::string platePath = (data / kPlate).string();
    const std::string bgPath = (data / kBackground).string();
    Frame plate = ReadImage(platePath, FrameRole::kColour);
    Frame bg = ReadImage(bgPath, FrameRole::kColour);

    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) throw Failure("cannot create the folder \"" + dir + "\": " + ec.message());
    const std::string compositePath = (fs::path(dir) / "composite.png").string();
    const std::string sheetPath = (fs::path(dir) / "views.png").string();
    for (const std::string& out : {compositePath, sheetPath})
        for (const std::string& in : {platePath, bgPath})
            if (SameFile(out, in))
                throw UsageError("refusing to write \"" + out + "\": it is an input");

    ParamSet params(effect.Params());
    std::string settings;
    for (const auto& [name, value] : kSettings) {
        params.Set(name, value);
        settings += std::string(settings.empty() ? "" : ", ") + name + "=" + value;
    }
    std::printf("demo settings: %s\n", settings.c_str());
    const ParamInfo& show = params.Info("Show");

    int status = kExitOk;
    std::vector<Frame> tiles;
    std::vector<std::string> labels;
    std::vector<std::vector<Swatch>> keys;
    Frame out, composite;
    for (size_t v = 1; v <= show.choices.size(); ++v) {
        params.Set("Show", std::to_string(v));
        Effect::Result r = effect.Render(plate, &bg, nullptr, params, plate.width, plate.height, 1,
                                         false, 0, &out);
        if (r.err != 0)
            throw Failure("the effect failed on view \"" + show.choices[v - 1] + "\" with error " +
                          std::to_string(r.err));
        if (!r.message.empty()) {
            std::fprintf(stderr, "orvo: view \"%s\": the effect reports: %s\n",
                         show.choices[v - 1].c_str(), r.message.c_str());
            status = kExitEffect;
        }
        if (v == show.choices.size()) composite = out;
        tiles.push_back(Downscale(out, kReduce));
        labels.push_back(std::to_string(v) + " " + show.choices[v - 1]);
        keys.push_back(ColourKey(show.choices[v - 1]));
    }
    WriteImage(compositePath, composite);
    WriteImage(sheetPath, TileViews(tiles, labels, keys, 4));
    std::printf("%s\n%s\n", compositePath.c_str(), sheetPath.c_str());
    return status;
}

} // namespace orvo
