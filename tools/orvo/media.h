// Frame sources (a still, an image sequence or a video) and frame sinks (the
// same three), so one loop keys any mix of them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "frame.h"
#include "image_io.h"
#include "video_io.h"

namespace orvo {

// A frame range given with --frames: sequence frame numbers, or 1-based
// positions in a video.
struct FrameRange {
    bool set = false;
    int first = 0, last = 0;
};
// Parses "A-B" (or "A" for one frame); throws a usage error.
FrameRange ParseFrameRange(const std::string& text);

class Source {
  public:
    virtual ~Source() = default;
    // Frames this source gives; -1 when unknown (some videos); a still gives
    // 1 but serves any number of frames as background or key-in.
    virtual int count() const = 0;
    virtual bool isStill() const { return false; }
    // The next frame; false after the last one. Throws a usage error naming
    // the file when a frame cannot be read.
    virtual bool Next(Frame* frame) = 0;
    // Number of the frame last returned (sequence number or 1-based position).
    virtual int number() const = 0;
    // The file of the frame last returned (for messages).
    virtual std::string current() const = 0;
    // Every file this source reads (checked against the outputs).
    virtual std::vector<std::string> files() const = 0;
    // Frame rate for a video written from it ("24/1" unless a video says otherwise).
    std::string rate() const { return traits().rate; }
    // What a video written from it carries over: frame rate, colour tags,
    // timecode and audio (from the first frame this source gives).
    virtual VideoTraits traits() const { return VideoTraits(); }
};

// Opens `path` as a still, a sequence pattern or a video; `range` selects
// frames of a sequence or video; a still gives its frame once, or to every
// frame asked for when `repeatStill` (a background or key-in). Throws a usage
// error naming the file.
std::unique_ptr<Source> OpenSource(const std::string& path, FrameRole role, const FrameRange& range,
                                   bool repeatStill);

class Sink {
  public:
    virtual ~Sink() = default;
    // Writes the frame whose number is `number` (sequence outputs name files by it).
    virtual void Write(int number, const Frame& frame) = 0;
    // Publishes the result (a video is renamed into place here).
    virtual void Finish() = 0;
    // Stops after a failure: frames already written stay; a partial video
    // is kept under a name that says so when `keepPartial`, else removed.
    // Returns a note for the user.
    virtual std::string Abandon(bool keepPartial = true) = 0;
    // The files this sink will write for the given frame numbers.
    virtual std::vector<std::string> Targets(const std::vector<int>& numbers) const = 0;
    virtual bool singleFrame() const { return false; }
};

// A still, a sequence pattern ("out.%04d.png", "out.####.png") or a video by
// extension; a video takes the traits of `from` and the --codec choice.
// Throws a usage error naming the file when the container cannot hold the
// codec (CheckImageOutput tells whether a still's extension is writable).
std::unique_ptr<Sink> OpenSink(const std::string& path, const Source& from,
                               const std::string& codec = "");
// The same with the traits already taken from the source (a plan keeps them).
std::unique_ptr<Sink> OpenSink(const std::string& path, const VideoTraits& traits,
                               const std::string& codec = "");
// The same with only a frame rate to carry over.
std::unique_ptr<Sink> OpenSink(const std::string& path, const std::string& rate);

} // namespace orvo
