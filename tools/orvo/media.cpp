#include "media.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "errors.h"
#include "files.h"
#include "progress.h"
#include "video_io.h"

namespace orvo {

namespace {

bool ParseCount(const std::string& s, int* out) {
    if (s.empty() || s.size() > 9) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    *out = std::atoi(s.c_str());
    return true;
}

// Reads a still and tells the user what the reading noticed: a deliberate
// conversion once per source (`*told` remembers), damage every time.
Frame ReadAndTell(const std::string& path, FrameRole role, bool* told) {
    ReadNotes notes;
    Frame f = ReadImage(path, role, &notes);
    if (!notes.conversion.empty() && !*told) {
        Note("\"" + path + "\": " + notes.conversion);
        *told = true;
    }
    if (!notes.damage.empty()) Note("warning: \"" + path + "\": frame damaged: " + notes.damage);
    return f;
}

class StillSource : public Source {
  public:
    StillSource(const std::string& path, FrameRole role, bool repeat)
        : path_(path), frame_(ReadAndTell(path, role, &told_)), repeat_(repeat) {}
    int count() const override { return 1; }
    bool isStill() const override { return true; }
    bool Next(Frame* frame) override {
        if (served_ > 0 && !repeat_) return false;
        *frame = frame_;
        ++served_;
        return true;
    }
    int number() const override { return served_ > 0 ? 1 : 0; }
    std::string current() const override { return path_; }
    std::vector<std::string> files() const override { return {path_}; }

  private:
    std::string path_;
    bool told_ = false;
    Frame frame_;
    bool repeat_;
    int served_ = 0;
};

class SequenceSource : public Source {
  public:
    SequenceSource(const std::string& pattern, FrameRole role, const FrameRange& range)
        : role_(role) {
        if (range.set) {
            for (int n = range.first; n <= range.last; ++n) {
                std::string file = FramePath(pattern, n);
                std::error_code ec;
                if (!std::filesystem::exists(file, ec))
                    throw UsageError("cannot read \"" + file + "\": frame " + std::to_string(n) +
                                     " of \"" + pattern + "\" is missing");
                frames_.emplace_back(n, file);
            }
        } else {
            frames_ = FindSequence(pattern);
            if (frames_.empty())
                throw UsageError("cannot read \"" + pattern + "\": no files match the pattern");
        }
    }
    int count() const override { return int(frames_.size()); }
    bool Next(Frame* frame) override {
        if (next_ >= frames_.size()) return false;
        const auto& f = frames_[next_++];
        *frame = ReadAndTell(f.second, role_, &told_);
        return true;
    }
    int number() const override { return next_ ? frames_[next_ - 1].first : 0; }
    std::string current() const override { return next_ ? frames_[next_ - 1].second : ""; }
    std::vector<std::string> files() const override {
        std::vector<std::string> out;
        for (const auto& f : frames_)
            out.push_back(f.second);
        return out;
    }

  private:
    FrameRole role_;
    bool told_ = false;
    std::vector<std::pair<int, std::string>> frames_;
    size_t next_ = 0;
};

class VideoSource : public Source {
  public:
    VideoSource(const std::string& path, FrameRole role, const FrameRange& range)
        : path_(path), role_(role), reader_(path), range_(range) {
        const int total = reader_.frameCountHint();
        if (range_.set && total >= 0 && range_.last > total)
            throw UsageError("cannot read frames " + std::to_string(range_.first) + "-" +
                             std::to_string(range_.last) + " of \"" + path_ + "\": the video has " +
                             std::to_string(total) + " frames");
    }
    int count() const override {
        int total = reader_.frameCountHint();
        if (range_.set) {
            int last = total >= 0 ? std::min(total, range_.last) : range_.last;
            return std::max(0, last - range_.first + 1);
        }
        return total;
    }
    bool Next(Frame* frame) override {
        const bool matte = role_ == FrameRole::kMatte;
        while (range_.set && position_ + 1 < range_.first) {
            if (!reader_.Next(frame, matte)) return Ended();
            ++position_;
        }
        if (range_.set && position_ + 1 > range_.last) return false;
        if (!reader_.Next(frame, matte)) return Ended();
        ++position_;
        const std::string complaint = reader_.TakeComplaint();
        if (!complaint.empty())
            Note("warning: \"" + path_ + "\": frame " + std::to_string(position_) +
                 " may be damaged: " + complaint);
        return true;
    }
    int number() const override { return position_; }
    std::string current() const override { return path_; }
    std::vector<std::string> files() const override { return {path_}; }
    VideoTraits traits() const override {
        VideoTraits t = reader_.traits();
        if (!range_.set) return t;
        int num = 24, den = 1;
        const bool rate =
            std::sscanf(t.rate.c_str(), "%d/%d", &num, &den) == 2 && num > 0 && den > 0;
        if (range_.first > 1) {
            const long skipped = range_.first - 1;
            if (!t.timecode.empty()) t.timecode = AdvanceTimecode(t.timecode, t.rate, skipped);
            if (rate) t.audioStart = double(skipped) * den / num;
        }
        // The audio of the chosen frames only.
        if (rate) t.audioLength = double(range_.last - range_.first + 1) * den / num;
        return t;
    }

  private:
    bool Ended() {
        if (range_.set)
            throw UsageError("cannot read \"" + path_ + "\": the video has only " +
                             std::to_string(position_) + " frames, --frames asks for " +
                             std::to_string(range_.first) + "-" + std::to_string(range_.last));
        return false;
    }
    std::string path_;
    FrameRole role_;
    VideoReader reader_;
    FrameRange range_;
    int position_ = 0;
};

class StillSink : public Sink {
  public:
    explicit StillSink(const std::string& path) : path_(path) {}
    void Write(int, const Frame& frame) override { WriteImage(path_, frame); }
    void Finish() override {}
    std::string Abandon(bool = true) override { return ""; }
    std::vector<std::string> Targets(const std::vector<int>&) const override { return {path_}; }
    bool singleFrame() const override { return true; }

  private:
    std::string path_;
};

class SequenceSink : public Sink {
  public:
    explicit SequenceSink(const std::string& pattern) : pattern_(pattern) {}
    void Write(int number, const Frame& frame) override {
        WriteImage(FramePath(pattern_, number), frame);
        ++written_;
    }
    void Finish() override {}
    std::string Abandon(bool = true) override {
        return written_ ? "the " + std::to_string(written_) + " frames written before stay" : "";
    }
    std::vector<std::string> Targets(const std::vector<int>& numbers) const override {
        std::vector<std::string> out;
        for (int n : numbers)
            out.push_back(FramePath(pattern_, n));
        return out;
    }

  private:
    std::string pattern_;
    int written_ = 0;
};

class VideoSink : public Sink {
  public:
    VideoSink(const std::string& path, const VideoTraits& traits, VideoCodec codec)
        : path_(path), traits_(traits), codec_(codec) {}
    void Write(int, const Frame& frame) override {
        if (!writer_)
            writer_ =
                std::make_unique<VideoWriter>(path_, frame.width, frame.height, traits_, codec_);
        writer_->Write(frame);
        ++written_;
    }
    void Finish() override {
        if (!writer_) throw Failure("cannot write \"" + path_ + "\": no frames");
        writer_->Finish();
        writer_.reset();
    }
    std::string Abandon(bool keepPartial = true) override {
        if (!writer_) return "";
        if (!keepPartial || written_ == 0) {
            writer_->Abandon("");
            writer_.reset();
            return "";
        }
        std::filesystem::path p(path_);
        std::string keep =
            (p.parent_path() / (p.stem().string() + ".partial" + p.extension().string())).string();
        writer_->Abandon(keep);
        writer_.reset();
        return "the " + std::to_string(written_) + " frames encoded before are in \"" + keep + "\"";
    }
    std::vector<std::string> Targets(const std::vector<int>&) const override { return {path_}; }

  private:
    std::string path_;
    VideoTraits traits_;
    VideoCodec codec_;
    std::unique_ptr<VideoWriter> writer_;
    int written_ = 0;
};

} // namespace

FrameRange ParseFrameRange(const std::string& text) {
    FrameRange r;
    size_t dash = text.find('-', 1);
    std::string a = dash == std::string::npos ? text : text.substr(0, dash);
    std::string b = dash == std::string::npos ? text : text.substr(dash + 1);
    if (!ParseCount(a, &r.first) || !ParseCount(b, &r.last) || r.first > r.last)
        throw UsageError("--frames \"" + text +
                         "\": expected A-B with whole numbers, A not above B (e.g. 1-24)");
    r.set = true;
    return r;
}

std::unique_ptr<Source> OpenSource(const std::string& path, FrameRole role, const FrameRange& range,
                                   bool repeatStill) {
    if (IsSequencePattern(path)) return std::make_unique<SequenceSource>(path, role, range);
    if (IsVideoPath(path)) return std::make_unique<VideoSource>(path, role, range);
    return std::make_unique<StillSource>(path, role, repeatStill);
}

namespace {

std::unique_ptr<Sink> MakeSink(const std::string& path, const VideoTraits& traits,
                               const std::string& codecName) {
    const VideoCodec codec = ParseVideoCodec(codecName);
    if (IsVideoPath(path)) {
        CheckVideoOutput(path, codec);
        return std::make_unique<VideoSink>(path, traits, codec);
    }
    if (codec != VideoCodec::kAuto)
        throw UsageError("--codec \"" + codecName + "\" applies to a video output, not \"" + path +
                         "\"");
    if (IsSequencePattern(path)) return std::make_unique<SequenceSink>(path);
    return std::make_unique<StillSink>(path);
}

} // namespace

std::unique_ptr<Sink> OpenSink(const std::string& path, const Source& from,
                               const std::string& codec) {
    return MakeSink(path, from.traits(), codec);
}

std::unique_ptr<Sink> OpenSink(const std::string& path, const VideoTraits& traits,
                               const std::string& codec) {
    return MakeSink(path, traits, codec);
}

std::unique_ptr<Sink> OpenSink(const std::string& path, const std::string& rate) {
    VideoTraits traits;
    traits.rate = rate;
    return MakeSink(path, traits, "");
}

} // namespace orvo
