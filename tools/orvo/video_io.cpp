#include "video_io.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <unistd.h>

#include <nlohmann/json.hpp>

#include "errors.h"
#include "files.h"
#include "progress.h"
#include "text.h"

namespace orvo {

namespace {

bool OneOf(const std::string& s, std::initializer_list<const char*> names) {
    for (const char* n : names)
        if (s == n) return true;
    return false;
}

// A tag ffprobe reports for a stream that carries none.
std::string Tag(const nlohmann::json& stream, const char* key) {
    std::string v = stream.value(key, std::string());
    return OneOf(v, {"unknown", "unspecified", "reserved", ""}) ? std::string() : v;
}

// Frames per second of a rate fraction ("30000/1001" gives 29.97); 0 when unreadable.
double RateValue(const std::string& rate) {
    int num = 0, den = 1;
    if (std::sscanf(rate.c_str(), "%d/%d", &num, &den) < 1 || num <= 0 || den <= 0) return 0;
    return double(num) / den;
}

// The swscale matrix for a stream's colour matrix tag; empty when it has none.
std::string ScaleMatrix(const std::string& matrix) {
    if (matrix == "bt709") return "bt709";
    if (matrix == "bt470bg") return "bt470";
    if (matrix == "smpte170m") return "smpte170m";
    if (matrix == "smpte240m") return "smpte240m";
    if (matrix == "fcc") return "fcc";
    if (matrix == "bt2020nc" || matrix == "bt2020c") return "bt2020";
    return "";
}

// Audio codecs each container takes as they are; others are encoded anew.
struct AudioRule {
    const char* container;
    std::initializer_list<const char*> copies; // empty: any codec
    const char* encoder;
};
const AudioRule kAudioRules[] = {
    {"mov",
     {"aac", "alac", "mp3", "ac3", "pcm_s16le", "pcm_s16be", "pcm_s24le", "pcm_s24be", "pcm_f32le"},
     "aac"},
    {"mp4", {"aac", "mp3", "alac", "ac3", "eac3", "opus", "flac"}, "aac"},
    {"m4v", {"aac", "mp3", "alac", "ac3", "eac3", "opus", "flac"}, "aac"},
    {"mkv", {}, "flac"},
    {"webm", {"opus", "vorbis"}, "libopus"},
    {"avi", {"mp3", "ac3", "pcm_s16le"}, "libmp3lame"},
    {"mxf", {"pcm_s16le", "pcm_s24le"}, "pcm_s24le"},
};

// Video goes through the ffmpeg programs; say which package brings them.
[[noreturn]] void NoFfmpeg(const std::string& why) {
    throw Failure(why + " (video needs the ffmpeg programs: install the Debian package ffmpeg)");
}

} // namespace

std::string AdvanceTimecode(const std::string& timecode, const std::string& rate, long frames) {
    int h, m, s, f;
    char sep = ':';
    if (std::sscanf(timecode.c_str(), "%d:%d:%d%c%d", &h, &m, &s, &sep, &f) != 5) return "";
    const long fps = std::lround(RateValue(rate));
    if (fps <= 0 || h < 0 || m < 0 || s < 0 || f < 0) return "";
    const bool drop = (sep == ';' || sep == '.') && fps % 30 == 0;
    const long dropped = drop ? fps / 15 : 0; // frame numbers skipped each minute but every tenth
    const long minutes = 60L * h + m;
    long n = ((60L * minutes + s) * fps + f) - dropped * (minutes - minutes / 10) + frames;
    const long day = 24L * 3600 * fps - dropped * (24 * 60 - 24 * 6);
    n = ((n % day) + day) % day;
    if (drop) {
        const long perTen = fps * 600 - dropped * 9, perMinute = fps * 60 - dropped;
        const long tens = n / perTen, rest = n % perTen;
        n += dropped * 9 * tens + (rest > dropped ? dropped * ((rest - dropped) / perMinute) : 0);
    }
    char out[64];
    std::snprintf(out, sizeof out, "%02ld:%02ld:%02ld%c%02ld", n / (3600 * fps) % 24,
                  n / (60 * fps) % 60, n / fps % 60, drop ? sep : ':', n % fps);
    return out;
}

VideoCodec ParseVideoCodec(const std::string& name) {
    const std::string n = Lower(name);
    if (n.empty() || n == "auto") return VideoCodec::kAuto;
    if (n == "png") return VideoCodec::kPng;
    if (n == "prores" || n == "prores4444") return VideoCodec::kProRes;
    throw UsageError("--codec \"" + name + "\": expected png or prores");
}

void CheckVideoOutput(const std::string& path, VideoCodec codec) {
    if (codec == VideoCodec::kAuto) return;
    const std::string ext = Extension(path);
    if (ext != "mov")
        throw UsageError(std::string("--codec ") + (codec == VideoCodec::kPng ? "png" : "prores") +
                         " needs a .mov output, not \"" + path + "\"");
}

VideoReader::VideoReader(const std::string& path) : path_(path) {
    std::FILE* probe = std::fopen(path.c_str(), "rb");
    if (!probe) throw UsageError("cannot read \"" + path + "\": no such file or not readable");
    std::fclose(probe);
    std::string out, err;
    int status = RunCapture({"ffprobe", "-v", "error", "-show_entries",
                             "stream=index,codec_type,codec_name,width,height,r_frame_rate,"
                             "nb_frames,pix_fmt,color_space,color_transfer,color_primaries,"
                             "color_range:stream_tags=timecode:format_tags=timecode",
                             "-of", "json", path},
                            &out, &err);
    if (status == -1 && err.rfind("cannot run", 0) == 0) NoFfmpeg(err);
    if (status != 0)
        throw UsageError("cannot read video \"" + path + "\"" + (err.empty() ? "" : ": " + err));
    nlohmann::json j = nlohmann::json::parse(out, nullptr, false);
    if (j.is_discarded() || !j.contains("streams") || !j["streams"].is_array())
        throw UsageError("cannot read video \"" + path + "\": no video stream");
    const nlohmann::json* video = nullptr;
    for (const nlohmann::json& s : j["streams"]) {
        const std::string type = s.value("codec_type", std::string());
        if (type == "video" && !video) video = &s;
        if (type == "audio") traits_.audioCodecs.push_back(s.value("codec_name", std::string()));
        if (s.contains("tags") && traits_.timecode.empty())
            traits_.timecode = s["tags"].value("timecode", std::string());
    }
    if (!video) throw UsageError("cannot read video \"" + path + "\": no video stream");
    if (traits_.timecode.empty() && j.contains("format") && j["format"].contains("tags"))
        traits_.timecode = j["format"]["tags"].value("timecode", std::string());
    if (!traits_.audioCodecs.empty()) traits_.audioFrom = path;
    const nlohmann::json& s = *video;
    width_ = s.value("width", 0);
    height_ = s.value("height", 0);
    traits_.rate = s.value("r_frame_rate", std::string("24/1"));
    if (RateValue(traits_.rate) <= 0) traits_.rate = "24/1";
    traits_.matrix = Tag(s, "color_space");
    traits_.primaries = Tag(s, "color_primaries");
    traits_.transfer = Tag(s, "color_transfer");
    traits_.range = Tag(s, "color_range");
    std::string nb = s.value("nb_frames", std::string());
    if (!nb.empty() && nb != "N/A") count_ = std::atoi(nb.c_str());
    const std::string fmt = s.value("pix_fmt", std::string());
    hasAlpha_ = fmt.rfind("yuva", 0) == 0 || fmt.find("rgba") != std::string::npos ||
                fmt.find("bgra") != std::string::npos || fmt.find("argb") != std::string::npos ||
                fmt.find("abgr") != std::string::npos || fmt.rfind("ya", 0) == 0 ||
                fmt.rfind("gbrap", 0) == 0 || fmt.rfind("pal8", 0) == 0;
    if (width_ <= 0 || height_ <= 0 || width_ > 65535 || height_ > 65535)
        throw UsageError("cannot read video \"" + path + "\": unsupported frame size " +
                         std::to_string(width_) + "x" + std::to_string(height_));
    // A size change within the stream happens at a key frame: look at their
    // sizes first (only key frames are decoded), so frames are never keyed
    // rescaled or onto a background of another size.
    status = RunCapture({"ffprobe", "-v", "error", "-select_streams", "v:0", "-skip_frame", "nokey",
                         "-show_entries", "frame=width,height,pts_time", "-of", "json", path},
                        &out, &err);
    j = nlohmann::json::parse(out, nullptr, false);
    if (status != 0 || j.is_discarded())
        throw UsageError("cannot read video \"" + path + "\"" + (err.empty() ? "" : ": " + err));
    for (const nlohmann::json& f : j.value("frames", nlohmann::json::array())) {
        const int w = f.value("width", width_), h = f.value("height", height_);
        if (w == width_ && h == height_) continue;
        const std::string when = f.value("pts_time", std::string());
        throw UsageError("cannot read video \"" + path + "\": the frame size changes from " +
                         std::to_string(width_) + "x" + std::to_string(height_) + " to " +
                         std::to_string(w) + "x" + std::to_string(h) +
                         (when.empty() ? std::string() : " at " + when + " s"));
    }
    proc_ = std::make_unique<Subprocess>();
    std::string error;
    if (!proc_->Start({"ffmpeg", "-v", "error", "-nostdin", "-i", path, "-map", "0:v:0",
                       "-fps_mode", "passthrough", "-f", "rawvideo", "-pix_fmt", "rgba", "-"},
                      Subprocess::Pipe::kReadStdout, &error))
        NoFfmpeg(error);
}

VideoReader::~VideoReader() = default;

bool VideoReader::Next(Frame* frame, bool matte) {
    if (ended_) return false;
    const size_t bytes = size_t(width_) * size_t(height_) * 4;
    rgba_.resize(bytes);
    const size_t got = proc_->Read(rgba_.data(), bytes);
    if (got < bytes) {
        ended_ = true;
        const int status = proc_->Wait();
        const std::string why = proc_->ErrorText();
        if (status != 0)
            throw UsageError("cannot decode \"" + path_ + "\" (truncated or corrupt?)" +
                             (why.empty() ? "" : ": " + why));
        if (got != 0)
            throw UsageError("cannot decode \"" + path_ + "\": the last frame is cut short");
        if (count_ > 0 && served_ < count_)
            throw UsageError("cannot decode \"" + path_ + "\": it ends after " +
                             std::to_string(served_) + " of its " + std::to_string(count_) +
                             " frames (truncated?)" + (why.empty() ? "" : ": " + why));
        return false;
    }
    // The frame's memory is reused from one frame to the next.
    frame->width = width_;
    frame->height = height_;
    frame->px.resize(bytes);
    const uint8_t* s = rgba_.data();
    uint8_t* d = frame->px.data();
    for (size_t i = 0; i < bytes; i += 4) {
        d[i] = matte ? (hasAlpha_ ? s[i + 3] : s[i]) : (hasAlpha_ ? s[i + 3] : 255);
        d[i + 1] = s[i];
        d[i + 2] = s[i + 1];
        d[i + 3] = s[i + 2];
    }
    ++served_;
    return true;
}

std::string VideoReader::TakeComplaint() {
    const size_t size = proc_ ? proc_->ErrorSize() : 0;
    if (size <= complaintSeen_) return "";
    std::string text = proc_->ErrorText(complaintSeen_);
    complaintSeen_ = size;
    return text;
}

VideoWriter::VideoWriter(const std::string& path, int width, int height, const VideoTraits& traits,
                         VideoCodec codec)
    : path_(path), temp_(TempPathFor(path)), width_(width), height_(height) {
    CheckVideoOutput(path, codec);
    const std::string ext = Extension(path);
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
                                     traits.rate,
                                     "-i",
                                     "-"};
    // The audio of the source, from where the output begins.
    const bool audio = !traits.audioFrom.empty() && !traits.audioCodecs.empty();
    if (audio) {
        if (traits.audioStart > 0) {
            char at[32];
            std::snprintf(at, sizeof at, "%.6f", traits.audioStart);
            args.insert(args.end(), {"-ss", at});
        }
        if (traits.audioLength > 0) {
            char length[32];
            std::snprintf(length, sizeof length, "%.6f", traits.audioLength);
            args.insert(args.end(), {"-t", length});
        }
        // Every picture is kept: audio shorter than the video ends early
        // (-shortest would drop the pictures after it and stop the encoder).
        args.insert(args.end(), {"-i", traits.audioFrom, "-map", "0:v", "-map", "1:a"});
        const AudioRule* rule = nullptr;
        for (const AudioRule& r : kAudioRules)
            if (ext == r.container) rule = &r;
        bool copy = rule != nullptr;
        if (rule && rule->copies.size() > 0)
            for (const std::string& c : traits.audioCodecs)
                copy = copy && OneOf(c, rule->copies);
        if (copy || !rule) {
            args.insert(args.end(), {"-c:a", "copy"});
        } else {
            args.insert(args.end(), {"-c:a", rule->encoder});
            Note("\"" + path + "\": audio encoded as " + rule->encoder + " (." + ext +
                 " cannot hold it as it is)");
        }
    }

    // Codec by container (or --codec); YCbCr codecs are encoded with the
    // matrix they declare: the source's, else BT.709.
    bool ycbcr = true, evenSize = false;
    if (ext == "mov" && codec == VideoCodec::kProRes) {
        args.insert(args.end(), {"-c:v", "prores_ks", "-profile:v", "4444", "-pix_fmt",
                                 "yuva444p10le", "-vendor", "apl0"});
    } else if (ext == "mov") {
        args.insert(args.end(), {"-c:v", "png", "-pix_fmt", "rgba"});
        ycbcr = false;
    } else if (ext == "mkv" || ext == "avi") {
        args.insert(args.end(), {"-c:v", "ffv1", "-pix_fmt", "bgra"});
        ycbcr = false;
    } else if (ext == "webm") {
        args.insert(args.end(),
                    {"-c:v", "libvpx-vp9", "-pix_fmt", "yuva420p", "-b:v", "0", "-crf", "20"});
    } else if (ext == "mp4" || ext == "m4v") {
        args.insert(args.end(), {"-c:v", "libx264", "-pix_fmt", "yuv420p", "-crf", "16",
                                 "-movflags", "+faststart"});
        evenSize = true; // 4:2:0 needs even sizes: an odd edge is padded by one pixel
    }
    std::string matrix = ScaleMatrix(traits.matrix), matrixTag = traits.matrix;
    if (matrix.empty()) matrix = matrixTag = "bt709";
    if (!ycbcr) matrixTag = "gbr";
    const std::string range = traits.range == "pc" ? "pc" : "tv";
    const std::string primaries = traits.primaries.empty() ? "bt709" : traits.primaries;
    const std::string transfer = traits.transfer.empty() ? "bt709" : traits.transfer;
    // The frames carry the tags (some encoders write them from the frames),
    // the codec settings too (the containers' colour boxes come from there).
    std::string filter =
        ycbcr ? "scale=out_color_matrix=" + matrix + ":out_range=" + range + "," : "";
    filter += "setparams=color_primaries=" + primaries + ":color_trc=" + transfer +
              ":colorspace=" + matrixTag + (ycbcr ? ":range=" + range : "");
    if (evenSize) filter += ",pad=ceil(iw/2)*2:ceil(ih/2)*2";
    args.insert(args.end(), {"-vf", filter, "-colorspace", ycbcr ? matrixTag : "rgb",
                             "-color_primaries", primaries, "-color_trc", transfer});
    if (ycbcr) args.insert(args.end(), {"-color_range", range});
    if (!traits.timecode.empty()) args.insert(args.end(), {"-timecode", traits.timecode});
    args.push_back(temp_);
    proc_ = std::make_unique<Subprocess>();
    std::string error;
    if (!proc_->Start(args, Subprocess::Pipe::kWriteStdin, &error))
        NoFfmpeg("cannot write \"" + path + "\": " + error);
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
        throw UsageError("cannot write \"" + path_ + "\": ffmpeg stopped" +
                         (why.empty() ? "" : ": " + why));
    }
}

void VideoWriter::Finish() {
    int status = proc_->Wait();
    std::string why = proc_->ErrorText();
    proc_.reset();
    // ffmpeg reports a failed write of the file's end (a full disk) but still
    // exits 0; its messages say so. The sync makes sure the file system has
    // taken every byte.
    for (const char* failed : {"Error writing", "Error closing", "No space left", "File too large",
                               "Input/output error", "quota exceeded"})
        if (why.find(failed) != std::string::npos) status = -1;
    std::FILE* f = status == 0 ? std::fopen(temp_.c_str(), "rb") : nullptr;
    if (status == 0 && (!f || fsync(fileno(f)) != 0)) {
        status = -1;
        why = "the finished file cannot be synced to disk";
    }
    if (f) std::fclose(f);
    if (status != 0) {
        std::remove(temp_.c_str());
        throw UsageError("cannot write \"" + path_ + "\": ffmpeg failed" +
                         (why.empty() ? "" : ": " + why));
    }
    if (!CommitTemp(temp_, path_)) {
        std::remove(temp_.c_str());
        throw UsageError("cannot write \"" + path_ + "\": rename of the finished file failed");
    }
}

void VideoWriter::Abandon(const std::string& keepAs) {
    if (!proc_) return;
    int status = proc_->Wait();
    proc_.reset();
    if (keepAs.empty() || status != 0 || !CommitTemp(temp_, keepAs)) std::remove(temp_.c_str());
}

} // namespace orvo
