// Video in and out through the ffmpeg program, with raw RGBA frames on a pipe.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "frame.h"
#include "subprocess.h"

namespace orvo {

// What a video output carries over from the video it was made from.
struct VideoTraits {
    std::string rate = "24/1"; // frame rate as a fraction
    // Colour tags by ffmpeg's names ("bt709", "tv", ...); empty when untagged.
    std::string matrix, primaries, transfer, range;
    std::string timecode;                 // of the first frame ("01:00:00:00"), empty when none
    std::string audioFrom;                // the file whose audio streams go along, empty for none
    std::vector<std::string> audioCodecs; // their codec names
    double audioStart = 0;                // seconds into audioFrom where the output begins
    double audioLength = 0;               // seconds of it to take; 0 takes it to its end
};

// `timecode` moved on by `frames` frames at `rate` (drop-frame timecodes,
// written with ';', count the way they are displayed). Empty when it cannot be read.
std::string AdvanceTimecode(const std::string& timecode, const std::string& rate, long frames);

// The output video codec: by the container (kAuto), or chosen with --codec.
enum class VideoCodec { kAuto, kPng, kProRes };
// Parses --codec ("png", "prores", any case; empty is kAuto); throws a usage error.
VideoCodec ParseVideoCodec(const std::string& name);
// Throws a usage error naming the file when the container cannot hold the codec.
void CheckVideoOutput(const std::string& path, VideoCodec codec);

class VideoReader {
  public:
    // Probes the file (size, frame rate, frame count, colour tags, timecode,
    // audio, the sizes of its key frames) and starts decoding; throws a usage
    // error naming the file when it is missing, not a video, or changes its
    // frame size within the stream.
    explicit VideoReader(const std::string& path);
    ~VideoReader();

    int width() const { return width_; }
    int height() const { return height_; }
    const std::string& rate() const { return traits_.rate; } // "24/1"
    int frameCountHint() const { return count_; }            // -1 when the container does not say
    const VideoTraits& traits() const { return traits_; }

    // The next frame (alpha 255 for colour use; the key-in role takes the
    // alpha channel when the stream has one, else the first channel); false at the end.
    // Throws a usage error when the stream ends inside a frame, ends before
    // the frame count the container declares, or ffmpeg fails.
    bool Next(Frame* frame, bool matte);
    // What the decoder complained about since the last call (a damaged frame
    // it still gave a picture for), on one line; empty when nothing.
    std::string TakeComplaint();

  private:
    std::string path_;
    int width_ = 0, height_ = 0, count_ = -1, served_ = 0;
    bool hasAlpha_ = false;
    VideoTraits traits_;
    std::unique_ptr<Subprocess> proc_;
    bool ended_ = false;
    size_t complaintSeen_ = 0;
    std::vector<uint8_t> rgba_;
};

class VideoWriter {
  public:
    // Starts ffmpeg writing to a temporary file beside `path`. .mov keeps alpha
    // (PNG codec, lossless, or ProRes 4444), .mkv and .avi keep it too (FFV1),
    // .webm through VP9 with alpha, .mp4 and .m4v are H.264 without alpha.
    // The frame rate, timecode, colour tags and audio of `traits` go along;
    // YCbCr outputs are encoded with the matrix they declare.
    VideoWriter(const std::string& path, int width, int height, const VideoTraits& traits,
                VideoCodec codec = VideoCodec::kAuto);
    ~VideoWriter();

    void Write(const Frame& frame);
    // Ends the stream and renames the finished file to its name; a failed
    // write (a full disk) throws a usage error naming the file and leaves
    // nothing under either name.
    void Finish();
    // Gives up: ends the stream and keeps what was written under `keepAs`
    // (empty: remove it).
    void Abandon(const std::string& keepAs);

  private:
    std::string path_, temp_;
    int width_, height_;
    std::unique_ptr<Subprocess> proc_;
    std::vector<uint8_t> buffer_;
};

} // namespace orvo
