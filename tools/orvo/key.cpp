#include "key.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include <nlohmann/json.hpp>

#include "effect.h"
#include "errors.h"
#include "files.h"
#include "media.h"
#include "params.h"
#include "progress.h"

namespace orvo {

int ResolutionFactor(const std::string& name) {
    if (name == "full") return 1;
    if (name == "half") return 2;
    if (name == "third") return 3;
    if (name == "quarter") return 4;
    throw UsageError("--resolution \"" + name + "\": expected full, half, third or quarter");
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

namespace {

void CheckNotInput(const std::string& target, const std::vector<std::string>& inputs,
                   const std::string& what) {
    for (const std::string& in : inputs)
        if (SameFile(target, in))
            throw UsageError("refusing to write " + what + " \"" + target +
                             "\": it is an input (\"" + in + "\")");
}

} // namespace

int RunKey(const KeyOptions& o, Effect& effect) {
    if (o.fg.empty()) throw UsageError("key: --fg is required");
    if (o.out.empty()) throw UsageError("key: -o is required");
    const int factor = ResolutionFactor(o.resolution);

    // Parameters: the effect's defaults, then the preset, then --set, --show.
    ParamSet params(effect.Params());
    if (!o.preset.empty()) LoadPreset(o.preset, &params);
    for (const std::string& s : o.sets)
        params.SetAssignment(s);
    if (!o.show.empty()) params.Set("Show", o.show);

    FrameRange range;
    if (!o.frames.empty()) range = ParseFrameRange(o.frames);

    std::unique_ptr<Source> fg = OpenSource(o.fg, FrameRole::kColour, range, false);
    if (range.set && fg->isStill())
        throw UsageError("--frames needs a sequence or a video as --fg, not the still \"" + o.fg +
                         "\"");
    std::unique_ptr<Source> bg, ki;
    if (!o.bg.empty()) bg = OpenSource(o.bg, FrameRole::kColour, range, true);
    if (!o.keyIn.empty()) ki = OpenSource(o.keyIn, FrameRole::kMatte, range, true);
    const int total = fg->count();
    for (const Source* s : {bg.get(), ki.get()}) {
        if (s && !s->isStill() && total >= 0 && s->count() >= 0 && s->count() < total)
            throw UsageError("\"" + (s == bg.get() ? o.bg : o.keyIn) + "\" has " +
                             std::to_string(s->count()) + " frames, the foreground " +
                             std::to_string(total));
    }

    std::unique_ptr<Sink> sink = OpenSink(o.out, fg->rate());
    if (sink->singleFrame() && total != 1)
        throw UsageError("-o \"" + o.out + "\" is one image but the foreground has " +
                         (total < 0 ? "several" : std::to_string(total)) +
                         " frames: use a pattern such as out.%04d.png or a video name");

    // Nothing an input is read from may be written over.
    std::vector<std::string> inputs = fg->files();
    for (const Source* s : {bg.get(), ki.get()})
        if (s) {
            std::vector<std::string> f = s->files();
            inputs.insert(inputs.end(), f.begin(), f.end());
        }
    if (!o.preset.empty()) inputs.push_back(o.preset);
    std::vector<int> numbers;
    if (IsSequencePattern(o.fg)) {
        auto found = range.set ? std::vector<std::pair<int, std::string>>() : FindSequence(o.fg);
        if (range.set)
            for (int n = range.first; n <= range.last; ++n)
                numbers.push_back(n);
        else
            for (const auto& f : found)
                numbers.push_back(f.first);
    } else if (total > 0) {
        int first = range.set ? range.first : 1;
        for (int i = 0; i < total; ++i)
            numbers.push_back(first + i);
    }
    for (const std::string& t : sink->Targets(numbers))
        CheckNotInput(t, inputs, "output");
    if (!o.savePreset.empty()) {
        CheckNotInput(o.savePreset, inputs, "preset");
        if (SameFile(o.savePreset, o.out))
            throw UsageError("--save-preset and -o name the same file \"" + o.out + "\"");
    }
    if (!o.savePreset.empty()) SavePreset(o.savePreset, params);

    Progress progress(total, !o.quiet && total != 1);
    std::map<std::string, int> messages; // message -> frames that reported it
    std::string firstMessageFrame;
    int index = 0;
    Frame fgFrame, bgFrame, kiFrame, out;
    bool warnedSize = false;
    try {
        while (true) {
            if (!fg->Next(&fgFrame)) break;
            ++index;
            const int number = fg->number();
            if (bg && !bg->Next(&bgFrame))
                throw UsageError("\"" + o.bg + "\" has no frame for foreground frame " +
                                 std::to_string(number));
            if (ki && !ki->Next(&kiFrame))
                throw UsageError("\"" + o.keyIn + "\" has no frame for foreground frame " +
                                 std::to_string(number));
            if (bg && !warnedSize &&
                (bgFrame.width != fgFrame.width || bgFrame.height != fgFrame.height)) {
                std::fprintf(stderr,
                             "orvo: warning: background %dx%d, foreground %dx%d: the effect keys "
                             "onto mid-grey when the widths differ\n",
                             bgFrame.width, bgFrame.height, fgFrame.width, fgFrame.height);
                warnedSize = true;
            }
            const int fullW = fgFrame.width, fullH = fgFrame.height;
            Frame dfg = Downscale(fgFrame, factor);
            Frame dbg = bg ? Downscale(bgFrame, factor) : Frame();
            Frame dki = ki ? Downscale(kiFrame, factor) : Frame();
            Effect::Result r = effect.Render(dfg, bg ? &dbg : nullptr, ki ? &dki : nullptr, params,
                                             fullW, fullH, factor, o.draft, index - 1, &out);
            if (r.err != 0)
                throw Failure("the effect failed on frame " + std::to_string(number) +
                              " with error " + std::to_string(r.err));
            if (!r.message.empty() && messages[r.message]++ == 0)
                std::fprintf(stderr, "orvo: frame %d: the effect reports: %s\n", number,
                             r.message.c_str());
            if (numbers.empty()) // frame count unknown up front: check each target now
                for (const std::string& t : sink->Targets({number}))
                    CheckNotInput(t, inputs, "output");
            sink->Write(number, out);
            progress.FrameDone();
        }
        if (index == 0) throw UsageError("\"" + o.fg + "\" has no frames");
        sink->Finish();
    } catch (const ToolError& e) {
        progress.End();
        std::string note = sink->Abandon();
        std::string where = index > 0 ? "frame " + std::to_string(fg->number()) + ": " : "";
        throw ToolError(e.code(), where + e.what() + (note.empty() ? "" : "; " + note));
    } catch (const std::exception& e) {
        progress.End();
        std::string note = sink->Abandon();
        throw Failure(std::string(e.what()) + (note.empty() ? "" : "; " + note));
    }
    progress.End();
    int reported = 0;
    for (const auto& m : messages)
        reported += m.second;
    if (reported > 0 && index > 1)
        std::fprintf(stderr, "orvo: the effect reported a message on %d of %d frames\n", reported,
                     index);
    return reported > 0 ? kExitEffect : kExitOk;
}

} // namespace orvo
