#include "subprocess.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace orvo {

Subprocess::~Subprocess() {
    if (pid_ > 0) {
        Kill();
        Wait();
    }
    if (fd_ >= 0) close(fd_);
    if (!errPath_.empty()) std::remove(errPath_.c_str());
}

bool Subprocess::Start(const std::vector<std::string>& argv, Pipe pipeMode, std::string* error) {
    // A child that stops reading must not kill us with SIGPIPE: writes fail instead.
    std::signal(SIGPIPE, SIG_IGN);
    char errTemplate[] = "/tmp/orvo-child-XXXXXX";
    int errFd = mkstemp(errTemplate);
    if (errFd < 0) {
        *error = std::string("cannot create a temporary file: ") + std::strerror(errno);
        return false;
    }
    errPath_ = errTemplate;
    int fds[2] = {-1, -1};
    if (pipeMode != Pipe::kNone && pipe2(fds, O_CLOEXEC) != 0) {
        *error = std::string("cannot create a pipe: ") + std::strerror(errno);
        close(errFd);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int devnull = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (pipeMode == Pipe::kReadStdout) {
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_adddup2(&actions, devnull, 0);
    } else if (pipeMode == Pipe::kWriteStdin) {
        posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
        posix_spawn_file_actions_adddup2(&actions, devnull, 1);
    } else {
        posix_spawn_file_actions_adddup2(&actions, devnull, 0);
        posix_spawn_file_actions_adddup2(&actions, devnull, 1);
    }
    posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    int rc = posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(errFd);
    if (devnull >= 0) close(devnull);
    if (pipeMode == Pipe::kReadStdout) {
        close(fds[1]);
        fd_ = fds[0];
    } else if (pipeMode == Pipe::kWriteStdin) {
        close(fds[0]);
        fd_ = fds[1];
    }
    if (rc != 0) {
        pid_ = -1;
        *error = "cannot run " + argv[0] + ": " + std::strerror(rc);
        return false;
    }
    return true;
}

size_t Subprocess::Read(void* data, size_t n) {
    size_t done = 0;
    char* p = static_cast<char*>(data);
    while (done < n) {
        ssize_t r = read(fd_, p + done, n - done);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        done += size_t(r);
    }
    return done;
}

bool Subprocess::Write(const void* data, size_t n) {
    size_t done = 0;
    const char* p = static_cast<const char*>(data);
    while (done < n) {
        ssize_t r = write(fd_, p + done, n - done);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        done += size_t(r);
    }
    return true;
}

int Subprocess::Wait() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    if (pid_ <= 0) return -1;
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void Subprocess::Kill() {
    if (pid_ > 0) kill(pid_, SIGKILL);
}

std::string Subprocess::ErrorText(size_t from) const {
    std::ifstream in(errPath_);
    in.seekg(std::streamoff(from));
    std::stringstream ss;
    ss << in.rdbuf();
    std::string s = ss.str();
    for (char& c : s)
        if (c == '\n' || c == '\r') c = ' ';
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    if (s.size() > 400) s = s.substr(0, 400) + "...";
    return s;
}

size_t Subprocess::ErrorSize() const {
    struct stat st;
    return !errPath_.empty() && stat(errPath_.c_str(), &st) == 0 ? size_t(st.st_size) : 0;
}

int RunCapture(const std::vector<std::string>& argv, std::string* out, std::string* err) {
    Subprocess p;
    if (!p.Start(argv, Subprocess::Pipe::kReadStdout, err)) return -1;
    char buf[4096];
    size_t n;
    out->clear();
    while ((n = p.Read(buf, sizeof buf)) > 0)
        out->append(buf, n);
    int status = p.Wait();
    *err = p.ErrorText();
    return status;
}

} // namespace orvo
