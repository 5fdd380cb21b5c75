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
// A key colour picked on the backdrop between its brighter left and darker right.
constexpr const char* kChromaColor = "58,192,82";
constexpr int kLabelHeight = 24, kGap = 8, kTextScale = 2, kReduce = 3;

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
                int columns) {
    int tw = 0, th = 0;
    for (const Frame& v : views) {
        tw = std::max(tw, v.width);
        th = std::max(th, v.height);
    }
    const int n = int(views.size());
    const int rows = (n + columns - 1) / columns;
    const int cellH = kLabelHeight + th;
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
    params.Set("Chroma Color", kChromaColor);
    const ParamInfo& show = params.Info("Show");

    int status = kExitOk;
    std::vector<Frame> tiles;
    std::vector<std::string> labels;
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
    }
    WriteImage(compositePath, composite);
    WriteImage(sheetPath, TileViews(tiles, labels, 4));
    std::printf("%s\n%s\n", compositePath.c_str(), sheetPath.c_str());
    return status;
}

} // namespace orvo
