#include "video_io.h"

#include <cstdio>
#include <vector>

#include <nlohmann/json.hpp>

#include "errors.h"
#include "files.h"

namespace orvo {

VideoReader::VideoReader(const std::string& path) : path_(path) {
    std::FILE* probe = std::fopen(path.c_str(), "rb");
    if (!probe) throw UsageError("cannot read \"" + path + "\": no such file or not readable");
    std::fclose(probe);
    std::string out, err;
    int status =
        RunCapture({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                    "stream=width,height,r_frame_rate,nb_frames,pix_fmt", "-of", "json", path},
                   &out, &err);
    if (status != 0)
        throw UsageError("cannot read video \"" + path + "\"" + (err.empty() ? "" : ": " + err));
    nlohmann::json j = nlohmann::json::parse(out, nullptr, false);
    if (j.is_discarded() || !j.contains("streams") || j["streams"].empty())
        throw UsageError("cannot read video \"" + path + "\": no video stream");
    const nlohmann::json& s = j["streams"][0];
    width_ = s.value("width", 0);
    height_ = s.value("height", 0);
    rate_ = s.value("r_frame_rate", std::string("24/1"));
    if (rate_ == "0/0") rate_ = "24/1";
    std::string nb = s.value("nb_frames", std::string());
    if (!nb.empty() && nb != "N/A") count_ = std::atoi(nb.c_str());
    std::string fmt = s.value("pix_fmt", std::string());
    hasAlpha_ = fmt.find('a') != std::string::npos &&
                (fmt.rfind("yuva", 0) == 0 || fmt.find("rgba") != std::string::npos ||
                 fmt.find("bgra") != std::string::npos || fmt.find("argb") != std::string::npos ||
                 fmt.find("abgr") != std::string::npos || fmt.rfind("ya", 0) == 0 ||
                 fmt.rfind("gbrap", 0) == 0);
    if (width_ <= 0 || height_ <= 0 || width_ > 65535 || height_ > 65535)
        throw UsageError("cannot read video \"" + path + "\": unsupported frame size");
    proc_ = std::make_unique<Subprocess>();
    std::string error;
    if (!proc_->Start({"ffmpeg", "-v", "error", "-nostdin", "-i", path, "-map", "0:v:0",
                       "-fps_mode", "passthrough", "-f", "rawvideo", "-pix_fmt", "rgba", "-"},
                      Subprocess::Pipe::kReadStdout, &error))
        throw Failure(error);
}

VideoReader::~VideoReader() = default;

bool VideoReader::Next(Frame* frame, bool matte) {
    if (ended_) return false;
    const size_t bytes = size_t(width_) * size_t(height_) * 4;
    std::vector<uint8_t> rgba(bytes);
    size_t got = proc_->Read(rgba.data(), bytes);
    if (got < bytes) {
        ended_ = true;
        int status = proc_->Wait();
        if (status != 0)
            throw UsageError("cannot decode \"" + path_ +
                             "\" (truncated or corrupt?): " + proc_->ErrorText());
        if (got != 0)
            throw UsageError("cannot decode \"" + path_ + "\": the last frame is cut short");
        return false;
    }
    *frame = Frame(width_, height_);
    const uint8_t* s = rgba.data();
    uint8_t* d = frame->px.data();
    for (size_t i = 0; i < bytes; i += 4) {
        d[i] = matte ? (hasAlpha_ ? s[i + 3] : s[i]) : (hasAlpha_ ? s[i + 3] : 255);
        d[i + 1] = s[i];
        d[i + 2] = s[i + 1];
        d[i + 3] = s[i + 2];
    }
    return true;
}

VideoWriter::VideoWriter(const std::string& path, int width, int height, const std::string& rate)
    : path_(path), temp_(TempPathFor(path)), width_(width), height_(height) {
    std::vector<std::string> args = {"ffmpeg",
                                     "-v",
                                     "error",
                                     "-nostdin",
                                     "-y",
                                     "-f",
                                     "rawvideo",
                                     "-pix_fmt",
                                     "rgba",
                                     "-s",
                                     std::to_string(width) + "x" + std::to_string(height),
                                     "-framerate",
                                     rate,
                                     "-i",
                                     "-"};
    std::string ext = Extension(path);
    if (ext == "mov") {
        args.insert(args.end(), {"-c:v", "png", "-pix_fmt", "rgba"});
    } else if (ext == "mkv" || ext == "avi") {
        args.insert(args.end(), {"-c:v", "ffv1", "-pix_fmt", "bgra"});
    } else if (ext == "webm") {
        args.insert(args.end(),
                    {"-c:v", "libvpx-vp9", "-pix_fmt", "yuva420p", "-b:v", "0", "-crf", "20"});
    } else if (ext == "mp4" || ext == "m4v") {
        // 4:2:0 needs even sizes: an odd edge is padded by one pixel.
        args.insert(args.end(), {"-c:v", "libx264", "-pix_fmt", "yuv420p", "-crf", "16", "-vf",
                                 "pad=ceil(iw/2)*2:ceil(ih/2)*2", "-movflags", "+faststart"});
    }
    args.push_back(temp_);
    proc_ = std::make_unique<Subprocess>();
    std::string error;
    if (!proc_->Start(args, Subprocess::Pipe::kWriteStdin, &error))
        throw Failure("cannot write \"" + path + "\": " + error);
    buffer_.resize(size_t(width) * size_t(height) * 4);
}

VideoWriter::~VideoWriter() {
    if (proc_) Abandon("");
}

void VideoWriter::Write(const Frame& frame) {
    if (frame.width != width_ || frame.height != height_)
        throw Failure("cannot write \"" + path_ + "\": frame size changed within the video");
    const uint8_t* s = frame.px.data();
    uint8_t* d = buffer_.data();
    for (size_t i = 0; i < buffer_.size(); i += 4) {
        d[i] = s[i + 1];
        d[i + 1] = s[i + 2];
        d[i + 2] = s[i + 3];
        d[i + 3] = s[i];
    }
    if (!proc_->Write(buffer_.data(), buffer_.size())) {
        proc_->Wait();
        std::string why = proc_->ErrorText();
        proc_.reset();
        std::remove(temp_.c_str());
        throw Failure("cannot write \"" + path_ + "\": ffmpeg stopped" +
                      (why.empty() ? "" : ": " + why));
    }
}

void VideoWriter::Finish() {
    int status = proc_->Wait();
    std::string why = proc_->ErrorText();
    proc_.reset();
    if (status != 0) {
        std::remove(temp_.c_str());
        throw Failure("cannot write \"" + path_ + "\": ffmpeg failed" +
                      (why.empty() ? "" : ": " + why));
    }
    if (!CommitTemp(temp_, path_)) {
        std::remove(temp_.c_str());
        throw Failure("cannot write \"" + path_ + "\": rename of the finished file failed");
    }
}

void VideoWriter::Abandon(const std::string& keepAs) {
    if (!proc_) return;
    int status = proc_->Wait();
    proc_.reset();
    if (keepAs.empty() || status != 0 || !CommitTemp(temp_, keepAs)) std::remove(temp_.c_str());
}

} // namespace orvo
