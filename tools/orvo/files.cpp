#include "files.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <system_error>

#include <csignal>
#include <cstring>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace orvo {

namespace {

// Splits a pattern into text before the frame number, its padding and the
// text after it; false when there is no frame-number field.
bool SplitPattern(const std::string& path, std::string* head, int* pad, std::string* tail) {
    static const std::regex printf_field("%(0?)([0-9]*)d");
    std::smatch m;
    // Only the file name part may carry the field.
    size_t slash = path.find_last_of('/');
    size_t start = slash == std::string::npos ? 0 : slash + 1;
    std::string name = path.substr(start);
    if (std::regex_search(name, m, printf_field)) {
        *head = path.substr(0, start) + m.prefix().str();
        *pad = m[2].str().empty() ? 1 : std::stoi(m[2].str());
        *tail = m.suffix().str();
        return true;
    }
    size_t h = name.find('#');
    if (h != std::string::npos) {
        size_t e = name.find_first_not_of('#', h);
        if (e == std::string::npos) e = name.size();
        *head = path.substr(0, start) + name.substr(0, h);
        *pad = int(e - h);
        *tail = name.substr(e);
        return true;
    }
    return false;
}

} // namespace

bool IsSequencePattern(const std::string& path) {
    std::string head, tail;
    int pad;
    return SplitPattern(path, &head, &pad, &tail);
}

std::string FramePath(const std::string& pattern, int number) {
    std::string head, tail;
    int pad;
    if (!SplitPattern(pattern, &head, &pad, &tail)) return pattern;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*d", pad, number);
    return head + buf + tail;
}

std::vector<std::pair<int, std::string>> FindSequence(const std::string& pattern) {
    std::vector<std::pair<int, std::string>> frames;
    std::string head, tail;
    int pad;
    if (!SplitPattern(pattern, &head, &pad, &tail)) return frames;
    fs::path headPath(head);
    fs::path dir = headPath.parent_path();
    std::string prefix = headPath.filename().string();
    if (head.empty() || head.back() == '/') {
        dir = fs::path(head);
        prefix.clear();
    }
    std::error_code ec;
    fs::directory_iterator it(dir.empty() ? fs::path(".") : dir, ec);
    if (ec) return frames;
    for (const fs::directory_entry& e : it) {
        std::string name = e.path().filename().string();
        if (name.size() <= prefix.size() + tail.size()) continue;
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        if (name.compare(name.size() - tail.size(), tail.size(), tail) != 0) continue;
        std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - tail.size());
        if (digits.size() < size_t(pad) || digits.size() > 9) continue;
        if (!std::all_of(digits.begin(), digits.end(),
                         [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
            continue;
        // A number wider than the padding must not start with a zero ("%04d" of 12345).
        if (digits.size() > size_t(pad) && digits[0] == '0') continue;
        int number = std::stoi(digits);
        frames.emplace_back(number, FramePath(pattern, number));
    }
    std::sort(frames.begin(), frames.end());
    return frames;
}

std::string Extension(const std::string& path) {
    std::string ext = fs::path(path).extension().string();
    if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
    for (char& c : ext)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

bool IsVideoPath(const std::string& path) {
    static const char* const kVideo[] = {"mp4", "mov", "mkv", "webm", "avi", "m4v", "mxf"};
    std::string ext = Extension(path);
    for (const char* v : kVideo)
        if (ext == v) return true;
    return false;
}

namespace {

// The most recent temporary names, for removal when the run is interrupted.
// Older names have long been renamed or removed; unlinking a name that no
// longer exists does nothing.
constexpr int kTrackedTemps = 16;
char trackedTemps[kTrackedTemps][4096];
std::atomic<int> nextTracked{0};

void TrackTemp(const std::string& path) {
    if (path.size() >= sizeof trackedTemps[0]) return;
    int slot = nextTracked++ % kTrackedTemps;
    std::memcpy(trackedTemps[slot], path.c_str(), path.size() + 1);
}

extern "C" void RemoveTempsAndDie(int signal) {
    for (auto& name : trackedTemps)
        if (name[0] != 0) unlink(name);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

} // namespace

void RemoveTempsOnInterrupt() {
    std::signal(SIGINT, RemoveTempsAndDie);
    std::signal(SIGTERM, RemoveTempsAndDie);
    std::signal(SIGHUP, RemoveTempsAndDie);
}

std::string TempPathFor(const std::string& path) {
    static std::atomic<int> counter{0};
    fs::path p(path);
    std::string name = "." + p.stem().string() + ".orvo-tmp-" + std::to_string(getpid()) + "-" +
                       std::to_string(counter++) + p.extension().string();
    std::string temp = (p.parent_path() / name).string();
    TrackTemp(temp);
    return temp;
}

bool CommitTemp(const std::string& temp, const std::string& path) {
    return std::rename(temp.c_str(), path.c_str()) == 0;
}

bool WriteFileAtomically(const std::string& path, const void* data, size_t size, std::string* why) {
    const std::string temp = TempPathFor(path);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        *why = std::strerror(errno);
        return false;
    }
    const char* p = static_cast<const char*>(data);
    size_t left = size;
    int error = 0;
    while (left > 0 && error == 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = n < 0 ? errno : ENOSPC;
            break;
        }
        p += n;
        left -= size_t(n);
    }
    if (error == 0 && ::fsync(fd) != 0 && errno != EINVAL) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && !CommitTemp(temp, path)) error = errno;
    if (error != 0) {
        ::unlink(temp.c_str());
        *why = std::strerror(error);
        return false;
    }
    return true;
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    if (fs::exists(a, ec) && fs::exists(b, ec)) return fs::equivalent(a, b, ec);
    fs::path ca = fs::weakly_canonical(fs::absolute(a, ec), ec);
    fs::path cb = fs::weakly_canonical(fs::absolute(b, ec), ec);
    return ca == cb;
}

} // namespace orvo
