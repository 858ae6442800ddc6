#include "file_io.h"

#include "errors.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace tvf2 {
namespace {

std::string ErrnoText(int e) {
    return std::strerror(e);
}

// The temporary output file of this process, for the signal handler. A fixed buffer:
// the handler may only make async-signal-safe calls (unlink, signal, raise).
char g_tempPath[4096];
volatile sig_atomic_t g_haveTemp = 0;

extern "C" void RemoveTempAndDie(int sig) {
    if (g_haveTemp) unlink(g_tempPath);
    signal(sig, SIG_DFL);
    raise(sig);
}

void InstallSignalCleanup() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction sa;
        std::memset(&sa, 0, sizeof sa);
        sa.sa_handler = RemoveTempAndDie;
        sigemptyset(&sa.sa_mask);
        sigaction(sig, &sa, nullptr);
    }
}

void SplitPath(const std::string& path, std::string* dir, std::string* base) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        *dir = ".";
        *base = path;
    } else {
        *dir = slash == 0 ? "/" : path.substr(0, slash);
        *base = path.substr(slash + 1);
    }
}

}  // namespace

InputFile::InputFile(const std::string& path) {
    if (path == "-") {
        name_ = "stdin";
        file_ = stdin;
    } else {
        name_ = path;
        file_ = std::fopen(path.c_str(), "rb");
        if (!file_) throw Failure("cannot open " + path + ": " + ErrnoText(errno));
    }
    struct stat st;
    if (fstat(fileno(file_), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            if (file_ != stdin) std::fclose(file_);
            file_ = nullptr;
            throw Failure("cannot read " + name_ + ": it is a directory");
        }
        if (S_ISREG(st.st_mode)) size_ = static_cast<long long>(st.st_size);
    }
}

InputFile::~InputFile() {
    if (file_ && file_ != stdin) std::fclose(file_);
}

size_t InputFile::Read(void* dst, size_t n) noexcept {
    size_t got = 0;
    if (pushbackPos_ < pushback_.size()) {
        got = std::min(n, pushback_.size() - pushbackPos_);
        std::memcpy(dst, pushback_.data() + pushbackPos_, got);
        pushbackPos_ += got;
    }
    if (got < n && errno_ == 0) {
        got += std::fread(static_cast<char*>(dst) + got, 1, n - got, file_);
        if (got < n && std::ferror(file_)) errno_ = errno ? errno : EIO;
    }
    return got;
}

std::string InputFile::ErrorText() const {
    return ErrnoText(errno_);
}

void InputFile::ReadExact(void* dst, size_t n, const char* what) {
    const size_t got = Read(dst, n);
    if (got == n) return;
    if (Failed()) throw Failure("cannot read " + name_ + ": " + ErrorText());
    throw Failure(name_ + ": truncated " + what + " (" + std::to_string(got) + " of " +
                  std::to_string(n) + " bytes)");
}

void InputFile::Unread(const void* data, size_t n) {
    pushback_.assign(static_cast<const char*>(data), n);
    pushbackPos_ = 0;
}

OutputFile::OutputFile(const std::string& path) {
    if (path == "-") {
        name_ = "stdout";
        file_ = stdout;
        return;
    }
    name_ = target_ = path;
    std::string dir, base;
    SplitPath(path, &dir, &base);
    if (base.empty()) throw Failure("cannot write " + path + ": it names a directory");
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        throw Failure("cannot write " + path + ": it is a directory");
    // A hidden name beside the target: same file system, so rename() is atomic.
    std::string pattern = (dir == "/" ? "" : dir) + "/." + base + ".tvf2-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (buf.size() > sizeof g_tempPath) throw Failure("cannot write " + path + ": path too long");
    InstallSignalCleanup();
    const int fd = mkstemp(buf.data());
    if (fd < 0) throw Failure("cannot write " + path + ": " + ErrnoText(errno));
    temp_ = buf.data();
    std::memcpy(g_tempPath, buf.data(), buf.size());
    g_haveTemp = 1;
    file_ = fdopen(fd, "wb");
    if (!file_) {
        const int e = errno;
        close(fd);
        Discard();
        throw Failure("cannot write " + path + ": " + ErrnoText(e));
    }
}

OutputFile::~OutputFile() {
    if (!committed_) Discard();
}

void OutputFile::Discard() noexcept {
    if (file_ && file_ != stdout) std::fclose(file_);
    if (file_ != stdout) file_ = nullptr;
    if (!temp_.empty()) {
        g_haveTemp = 0;
        unlink(temp_.c_str());
        temp_.clear();
    }
}

void OutputFile::Write(const void* data, size_t n) {
    if (n == 0) return;
    if (std::fwrite(data, 1, n, file_) != n)
        throw Failure("cannot write " + name_ + ": " + ErrnoText(errno ? errno : EIO));
}

void OutputFile::Commit() {
    if (file_ == stdout) {
        if (std::fflush(stdout) != 0 || std::ferror(stdout))
            throw Failure("cannot write stdout: " + ErrnoText(errno ? errno : EIO));
        committed_ = true;
        return;
    }
    // mkstemp creates the file private (0600); give it the mode an ordinary new file
    // would get, or the mode of the file it replaces.
    mode_t mode;
    struct stat st;
    if (stat(target_.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    const int fd = fileno(file_);
    if (std::fflush(file_) != 0 || std::ferror(file_))
        throw Failure("cannot write " + name_ + ": " + ErrnoText(errno ? errno : EIO));
    fchmod(fd, mode);
    FILE* f = file_;
    file_ = nullptr;
    if (std::fclose(f) != 0) throw Failure("cannot write " + name_ + ": " + ErrnoText(errno));
    if (std::rename(temp_.c_str(), target_.c_str()) != 0)
        throw Failure("cannot write " + name_ + ": " + ErrnoText(errno));
    g_haveTemp = 0;
    temp_.clear();
    committed_ = true;
}

}  // namespace tvf2
