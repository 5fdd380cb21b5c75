// Video in and out through the ffmpeg program, with raw RGBA frames on a pipe.
#pragma once

#include <memory>
#include <string>

#include "frame.h"
#include "subprocess.h"

namespace orvo {

class VideoReader {
  public:
    // Probes the file (size, frame rate, frame count) and starts decoding;
    // throws a usage error naming the file when it is missing or not a video.
    explicit VideoReader(const std::string& path);
    ~VideoReader();

    int width() const { return width_; }
    int height() const { return height_; }
    const std::string& rate() const { return rate_; } // "24/1"
    int frameCountHint() const { return count_; }     // -1 when the container does not say

    // The next frame (alpha 255 for colour use; the key-in role takes the
    // alpha channel when the stream has one, else the first channel); false at the end.
    // Throws a usage error when the stream ends inside a frame or ffmpeg fails.
    bool Next(Frame* frame, bool matte);

  private:
    std::string path_;
    int width_ = 0, height_ = 0, count_ = -1;
    bool hasAlpha_ = false;
    std::string rate_ = "24/1";
    std::unique_ptr<Subprocess> proc_;
    bool ended_ = false;
};

class VideoWriter {
  public:
    // Starts ffmpeg writing to a temporary file beside `path`. .mov keeps alpha
    // (PNG codec, lossless), .mkv and .avi keep it too (FFV1), .webm through VP9
    // with alpha, .mp4 and .m4v are H.264 without alpha.
    VideoWriter(const std::string& path, int width, int height, const std::string& rate);
    ~VideoWriter();

    void Write(const Frame& frame);
    // Ends the stream and renames the finished file to its name.
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
