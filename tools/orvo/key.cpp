#include "key.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <new>
#include <sstream>

#include <OpenImageIO/imageio.h>
#include <fcntl.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include "effect.h"
#include "errors.h"
#include "files.h"
#include "host/params.h"
#include "progress.h"

namespace fs = std::filesystem;

namespace orvo {

int ResolutionFactor(const std::string& name) {
    static const char* const kNames[] = {"full", "half", "third", "quarter"};
    std::string lower;
    for (char c : name)
        lower += char(std::tolower(static_cast<unsigned char>(c)));
    for (size_t i = 0; i < std::size(kNames); ++i)
        if (lower == kNames[i]) return int(i) + 1;
    throw UsageError("--resolution \"" + name + "\": expected full, half, third or quarter" +
                     DidYouMean(name, {std::begin(kNames), std::end(kNames)}));
}

void LoadPreset(const std::string& path, ParamSet* params) {
    std::ifstream in(path);
    if (!in) throw UsageError("cannot read preset \"" + path + "\": no such file or not readable");
    std::stringstream ss;
    ss << in.rdbuf();
    nlohmann::json j = nlohmann::json::parse(ss.str(), nullptr, false);
    if (j.is_discarded()) throw UsageError("cannot read preset \"" + path + "\": not valid JSON");
    params->ApplyPreset(j, "preset \"" + path + "\"");
}

void SavePreset(const std::string& path, const ParamSet& params) {
    std::string temp = TempPathFor(path);
    {
        std::ofstream out(temp);
        out << params.ToPreset().dump(2) << "\n";
        out.close();
        if (!out) {
            std::remove(temp.c_str());
            throw Failure("cannot write preset \"" + path + "\"");
        }
    }
    if (!CommitTemp(temp, path)) {
        std::remove(temp.c_str());
        throw Failure("cannot write preset \"" + path + "\": rename of the finished file failed");
    }
}

bool MeasureKeyColour(const Frame& frame, uint8_t rgb[3]) {
    // Hue histogram of the strongly saturated pixels, in 5-degree bins.
    constexpr int kBins = 72;
    std::vector<uint8_t> hues(size_t(frame.width) * size_t(frame.height), kBins);
    uint32_t counts[kBins] = {};
    const uint8_t* p = frame.px.data();
    for (size_t i = 0; i < hues.size(); ++i, p += 4) {
        const int r = p[1], g = p[2], b = p[3];
        const int mx = std::max({r, g, b}), mn = std::min({r, g, b}), chroma = mx - mn;
        if (chroma < 48 || chroma * 10 < mx * 4) continue; // dull, dark or pale
        double h;
        if (mx == r)
            h = std::fmod(double(g - b) / chroma + 6.0, 6.0);
        else if (mx == g)
            h = double(b - r) / chroma + 2.0;
        else
            h = double(r - g) / chroma + 4.0;
        hues[i] = uint8_t(std::min(kBins - 1, int(h * kBins / 6.0)));
        ++counts[hues[i]];
    }
    // The dominant hue: the bin whose neighbourhood of three holds the most.
    int best = -1;
    uint64_t bestCount = 0;
    for (int b = 0; b < kBins; ++b) {
        uint64_t n =
            uint64_t(counts[(b + kBins - 1) % kBins]) + counts[b] + counts[(b + 1) % kBins];
        if (n > bestCount) {
            bestCount = n;
            best = b;
        }
    }
    // A few stray pixels are no backing.
    if (best < 0 || bestCount * 200 < hues.size()) return false;
    // The median of each channel over that hue: a typical backing pixel.
    uint32_t histogram[3][256] = {};
    p = frame.px.data();
    for (size_t i = 0; i < hues.size(); ++i, p += 4) {
        const int h = hues[i];
        if (h == kBins) continue;
        const int d = std::abs(h - best);
        if (std::min(d, kBins - d) > 1) continue;
        for (int c = 0; c < 3; ++c)
            ++histogram[c][p[1 + c]];
    }
    for (int c = 0; c < 3; ++c) {
        uint64_t seen = 0;
        int v = 0;
        while (v < 255 && (seen += histogram[c][v]) * 2 < bestCount)
            ++v;
        rgb[c] = uint8_t(v);
    }
    return true;
}

size_t PixelsMatchingKey(const Frame& frame, const uint8_t rgb[3]) {
    const double kr = rgb[0], kg = rgb[1], kb = rgb[2];
    const double length = std::sqrt(kr * kr + kg * kg + kb * kb);
    size_t n = 0;
    const uint8_t* p = frame.px.data();
    for (size_t i = 0, count = size_t(frame.width) * size_t(frame.height); i < count; ++i, p += 4) {
        const double r = p[1], g = p[2], b = p[3];
        const double cosine =
            (kg * g + kr * r + kb * b) / (std::sqrt(g * g + r * r + b * b) * length);
        if (cosine > 0.95) ++n;
    }
    return n;
}

namespace {

std::string ColourText(const uint8_t rgb[3]) {
    return std::to_string(rgb[0]) + "," + std::to_string(rgb[1]) + "," + std::to_string(rgb[2]);
}

std::string SizeText(int w, int h) {
    return std::to_string(w) + "x" + std::to_string(h);
}

void CheckNotInput(const std::string& target, const std::vector<std::string>& inputs,
                   const std::string& what) {
    for (const std::string& in : inputs)
        if (SameFile(target, in))
            throw UsageError("refusing to write " + what + " \"" + target +
                             "\": it is an input (\"" + in + "\")");
}

// The output's folder exists and takes new files; the extension names a
// format this tool can write.
void CheckOutputWritable(const std::string& out) {
    fs::path folder = fs::path(out).parent_path();
    if (folder.empty()) folder = ".";
    std::error_code ec;
    if (!fs::exists(folder, ec))
        throw UsageError("cannot write \"" + out + "\": the folder \"" + folder.string() +
                         "\" does not exist");
    if (!fs::is_directory(folder, ec))
        throw UsageError("cannot write \"" + out + "\": \"" + folder.string() +
                         "\" is not a folder");
    // Creating a file is the one test that also holds for root and read-only mounts.
    const std::string probe = TempPathFor((folder / ".orvo-probe").string());
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0)
        throw UsageError("cannot write \"" + out + "\": the folder \"" + folder.string() +
                         "\" is not writable (" + std::strerror(errno) + ")");
    ::close(fd);
    ::unlink(probe.c_str());
    if (IsVideoPath(out)) return;
    CheckImageOutput(IsSequencePattern(out) ? FramePath(out, 1) : out);
}

// An input too big for the memory there is: exit 2, naming the file and,
// when its header says, its size.
ToolError TooBig(const std::string& path) {
    std::string size;
    if (auto in = OIIO::ImageInput::open(path))
        size = " of " + SizeText(in->spec_dimensions(0).width, in->spec_dimensions(0).height) +
               " pixels";
    return UsageError("cannot read \"" + path + "\": the picture" + size +
                      " needs more memory than this process may use");
}

// Reads the first frame of `source`.
Frame FirstFrame(Source& source, const std::string& path) {
    Frame f;
    try {
        if (!source.Next(&f)) throw UsageError("\"" + path + "\" has no frames");
    } catch (const std::bad_alloc&) {
        throw TooBig(source.current().empty() ? path : source.current());
    }
    return f;
}

std::unique_ptr<Source> Open(const std::string& path, FrameRole role, const FrameRange& range,
                             bool repeat) {
    try {
        return OpenSource(path, role, range, repeat);
    } catch (const std::bad_alloc&) {
        throw TooBig(path);
    }
}

bool ViewUsesKeyColour(int show) {
    return show != ShowForeground && show != ShowBackground;
}

} // namespace

KeyPlan PlanKey(const KeyOptions& o, Effect& effect) {
    if (o.fg.empty()) throw UsageError("key: --fg is required");
    if (o.out.empty()) throw UsageError("key: -o is required");
    KeyPlan plan;
    plan.options = o;
    plan.factor = ResolutionFactor(o.resolution);
    plan.fit = ParseBgFit(o.bgFit);

    // Parameters: the effect's defaults, then the preset, then --set, --show.
    plan.params = ParamSet(effect.Params());
    ParamSet& params = plan.params;
    if (!o.preset.empty()) LoadPreset(o.preset, &params);
    for (const std::string& s : o.sets)
        params.SetAssignment(s);
    if (!o.show.empty()) params.Set("Show", o.show);
    const int show = params.values()[size_t(params.FindIndex(ParamShow))].value;

    if (!o.frames.empty()) plan.range = ParseFrameRange(o.frames);
    std::unique_ptr<Source> fg = Open(o.fg, FrameRole::kColour, plan.range, false);
    if (plan.range.set && fg->isStill())
        throw UsageError("--frames needs a sequence or a video as --fg, not the still \"" + o.fg +
                         "\"");
    std::unique_ptr<Source> bg, ki;
    if (!o.bg.empty()) bg = Open(o.bg, FrameRole::kColour, plan.range, true);
    if (!o.keyIn.empty()) ki = Open(o.keyIn, FrameRole::kMatte, plan.range, true);
    plan.total = fg->count();
    plan.rate = fg->rate();
    for (const Source* s : {bg.get(), ki.get()}) {
        if (s && !s->isStill() && plan.total >= 0 && s->count() >= 0 && s->count() < plan.total)
            throw UsageError("\"" + (s == bg.get() ? o.bg : o.keyIn) + "\" has " +
                             std::to_string(s->count()) + " frames, the foreground " +
                             std::to_string(plan.total));
    }

    // The first frames: they decode, and their sizes agree or can be fitted.
    const Frame first = FirstFrame(*fg, o.fg);
    plan.width = first.width;
    plan.height = first.height;
    const std::string fgSize = SizeText(first.width, first.height);
    if (bg) {
        const Frame b = FirstFrame(*bg, o.bg);
        if (b.width != first.width || b.height != first.height) {
            const std::string sizes = "background \"" + o.bg + "\" is " +
                                      SizeText(b.width, b.height) + ", the foreground " + fgSize;
            if (plan.fit != BgFit::kNone) {
                if (!o.quiet)
                    Note(sizes + ": " + BgFitDescription(plan.fit) + " (--bg-fit " +
                         BgFitName(plan.fit) + "; cover, contain, stretch or none)");
            } else if (b.width != first.width)
                Note("warning: " + sizes + ": with --bg-fit none the effect keys over mid-grey");
            else
                throw UsageError("cannot use \"" + o.bg + "\": it is " +
                                 SizeText(b.width, b.height) + ", the foreground " + fgSize +
                                 "; the effect needs the same size (--bg-fit cover fits it)");
        }
    }
    if (ki) {
        const Frame k = FirstFrame(*ki, o.keyIn);
        if (k.width != first.width || k.height != first.height)
            throw UsageError("cannot use \"" + o.keyIn + "\" as key-in: it is " +
                             SizeText(k.width, k.height) + ", the foreground " + fgSize);
    }

    // The output: one image only for one frame, a folder that takes files, a
    // format for its extension, and never an input.
    std::unique_ptr<Sink> sink = OpenSink(o.out, *fg, o.codec);
    if (sink->singleFrame() && plan.total != 1)
        throw UsageError("-o \"" + o.out + "\" is one image but the foreground has " +
                         (plan.total < 0 ? "several" : std::to_string(plan.total)) +
                         " frames: use a pattern such as out.%04d.png or a video name");
    CheckOutputWritable(o.out);
    plan.inputs = fg->files();
    for (const Source* s : {bg.get(), ki.get()})
        if (s) {
            std::vector<std::string> f = s->files();
            plan.inputs.insert(plan.inputs.end(), f.begin(), f.end());
        }
    if (!o.preset.empty()) plan.inputs.push_back(o.preset);
    if (IsSequencePattern(o.fg)) {
        if (plan.range.set)
            for (int n = plan.range.first; n <= plan.range.last; ++n)
                plan.numbers.push_back(n);
        else
            for (const auto& f : FindSequence(o.fg))
                plan.numbers.push_back(f.first);
    } else if (plan.total > 0) {
        const int firstNumber = plan.range.set ? plan.range.first : 1;
        for (int i = 0; i < plan.total; ++i)
            plan.numbers.push_back(firstNumber + i);
    }
    for (const std::string& t : sink->Targets(plan.numbers))
        CheckNotInput(t, plan.inputs, "output");
    if (!o.savePreset.empty()) {
        CheckNotInput(o.savePreset, plan.inputs, "preset");
        if (SameFile(o.savePreset, o.out))
            throw UsageError("--save-preset and -o name the same file \"" + o.out + "\"");
    }

    // The key colour: measured from the first frame unless given; a given one
    // must match some part of that frame.
    ParamValue& key = params.MutableAt(params.FindIndex(ParamChromaColor));
    uint8_t measured[3] = {0, 0, 0};
    const bool found = MeasureKeyColour(first, measured);
    if (!key.given) {
        if (found) {
            std::copy(measured, measured + 3, key.colour + 1);
            key.colour[0] = 255;
            plan.keyColourMeasured = true;
            if (!o.quiet)
                Note("key colour " + ColourText(measured) +
                     " measured from the first frame (--set \"Chroma Color=" +
                     ColourText(measured) + "\" to keep it)");
        } else if (ViewUsesKeyColour(show)) {
            throw UsageError("no backing colour found in the first frame of \"" + o.fg +
                             "\" (no strongly saturated area): give it with --set "
                             "\"Chroma Color=R,G,B\"");
        }
    } else if (ViewUsesKeyColour(show)) {
        // Fewer than one pixel in ten thousand is noise, not a backing.
        const size_t matching = PixelsMatchingKey(first, key.colour + 1);
        if (matching == 0 || matching * 10000 < size_t(first.width) * size_t(first.height))
            throw UsageError("\"Chroma Color\" " + ColourText(key.colour + 1) +
                             " matches no part of the first frame of \"" + o.fg + "\"; " +
                             (found ? "the automatic choice is " + ColourText(measured) +
                                          " (leave \"Chroma Color\" unset to use it)"
                                    : std::string("the frame has no strongly saturated area")));
    }

    std::string outside = params.PointsOutside(first.width, first.height);
    if (!outside.empty()) Note(outside);
    return plan;
}

KeyResult RenderFrames(const KeyPlan& plan, Effect& effect, FrameRange range) {
    const KeyOptions& o = plan.options;
    if (!range.set) range = plan.range;
    std::unique_ptr<Source> fg = Open(o.fg, FrameRole::kColour, range, false);
    std::unique_ptr<Source> bg, ki;
    if (!o.bg.empty()) bg = Open(o.bg, FrameRole::kColour, range, true);
    if (!o.keyIn.empty()) ki = Open(o.keyIn, FrameRole::kMatte, range, true);
    std::unique_ptr<Sink> sink = OpenSink(o.out, *fg, o.codec);
    const int total = range.set == plan.range.set && range.first == plan.range.first &&
                              range.last == plan.range.last
                          ? plan.total
                          : fg->count();

    KeyResult result;
    Progress progress(total, !o.quiet && total != 1);
    int index = 0;
    Frame fgFrame, bgFrame, kiFrame, out, fitted, dfg, dbg, dki;
    const Frame* fittedBg = nullptr; // the background as it goes to the effect
    try {
        while (fg->Next(&fgFrame)) {
            ++index;
            const int number = fg->number();
            if (fgFrame.width != plan.width || fgFrame.height != plan.height)
                throw UsageError("\"" + fg->current() + "\": frame " + std::to_string(number) +
                                 " is " + SizeText(fgFrame.width, fgFrame.height) +
                                 ", the first frame " + SizeText(plan.width, plan.height) +
                                 " (the frame size changes)");
            // A still background is read, fitted and reduced once; other frames one by one.
            const bool newBg = bg && !(bg->isStill() && fittedBg);
            if (newBg) {
                if (!bg->Next(&bgFrame))
                    throw UsageError("\"" + o.bg + "\" has no frame for foreground frame " +
                                     std::to_string(number));
                fittedBg = &bgFrame;
                if (!FitKeepsBackground(bgFrame, plan.width, plan.height, plan.fit)) {
                    fitted = FitBackground(bgFrame, plan.width, plan.height, plan.fit);
                    fittedBg = &fitted;
                }
            }
            if (ki) {
                if (!ki->Next(&kiFrame))
                    throw UsageError("\"" + o.keyIn + "\" has no frame for foreground frame " +
                                     std::to_string(number));
                if (kiFrame.width != plan.width || kiFrame.height != plan.height)
                    throw UsageError("\"" + ki->current() + "\": key-in frame " +
                                     std::to_string(number) + " is " +
                                     SizeText(kiFrame.width, kiFrame.height) + ", the foreground " +
                                     SizeText(plan.width, plan.height));
            }
            // At full size the frames go to the effect as they are.
            const bool reduce = plan.factor > 1;
            if (reduce) {
                dfg = Downscale(fgFrame, plan.factor);
                if (newBg) dbg = Downscale(*fittedBg, plan.factor);
                if (ki) dki = Downscale(kiFrame, plan.factor);
            }
            const Frame& rfg = reduce ? dfg : fgFrame;
            const Frame* rbg = !bg ? nullptr : reduce ? &dbg : fittedBg;
            const Frame* rki = !ki ? nullptr : reduce ? &dki : &kiFrame;
            Effect::Result r = effect.Render(rfg, rbg, rki, plan.params, plan.width, plan.height,
                                             plan.factor, o.draft, index - 1, &out);
            if (r.err != 0)
                throw Failure("the effect failed on frame " + std::to_string(number) +
                              " with error " + std::to_string(r.err));
            if (!r.message.empty()) {
                // The frame is not what was asked for: stop, write nothing more.
                progress.End();
                std::string note = sink->Abandon(false); // nothing kept of a video
                Note("frame " + std::to_string(number) + ": the effect reports: " + r.message);
                Note("stopped at frame " + std::to_string(number) + "; " +
                     (note.empty() ? "\"" + o.out + "\" not written" : note));
                result.status = kExitEffect;
                result.messageFrame = number;
                result.message = r.message;
                result.seconds = progress.seconds();
                return result;
            }
            if (plan.numbers.empty()) // frame count unknown up front: check each target now
                for (const std::string& t : sink->Targets({number}))
                    CheckNotInput(t, plan.inputs, "output");
            sink->Write(number, out);
            if (plan.frameWritten) plan.frameWritten(number);
            progress.FrameDone();
            ++result.frames;
        }
        if (index == 0) throw UsageError("\"" + o.fg + "\" has no frames");
        sink->Finish();
    } catch (const ToolError& e) {
        progress.End();
        std::string note = sink->Abandon();
        std::string where = index > 0 ? "frame " + std::to_string(fg->number()) + ": " : "";
        throw ToolError(e.code(), where + e.what() + (note.empty() ? "" : "; " + note));
    } catch (const std::bad_alloc&) {
        progress.End();
        std::string note = sink->Abandon();
        throw Failure("not enough memory to render frame " + std::to_string(fg->number()) + " (" +
                      SizeText(plan.width, plan.height) + ")" + (note.empty() ? "" : "; " + note));
    } catch (const std::exception& e) {
        progress.End();
        std::string note = sink->Abandon();
        throw Failure(std::string(e.what()) + (note.empty() ? "" : "; " + note));
    }
    progress.End();
    result.seconds = progress.seconds();
    return result;
}

int RunKey(const KeyOptions& options, Effect& effect) {
    KeyPlan plan = PlanKey(options, effect);
    if (!options.savePreset.empty()) SavePreset(options.savePreset, plan.params);
    effect.RestartSequence();
    KeyResult r = RenderFrames(plan, effect, FrameRange());
    if (r.status == 0 && !options.quiet) {
        char line[96];
        std::snprintf(line, sizeof line, "%d frame%s in %.2f s (%.1f fps) -> ", r.frames,
                      r.frames == 1 ? "" : "s", r.seconds,
                      r.seconds > 0 ? r.frames / r.seconds : 0.0);
        Note(line + options.out);
    }
    return r.status;
}

} // namespace orvo
