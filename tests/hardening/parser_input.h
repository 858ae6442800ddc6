// Fuzz inputs as the files tvf2 reads: an anonymous in-memory file opened by path, so
// the readers see a regular file with a size, as they do for files on disk.
#ifndef TVF2_TESTS_HARDENING_PARSER_INPUT_H
#define TVF2_TESTS_HARDENING_PARSER_INPUT_H

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace tvf2hard {

class MemoryFile {
public:
    MemoryFile(const uint8_t* data, size_t size) {
        fd_ = memfd_create("fuzz-input", 0);
        if (fd_ < 0 || (size && write(fd_, data, size) != static_cast<ssize_t>(size))) {
            std::perror("memfd");
            std::abort();
        }
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~MemoryFile() { close(fd_); }
    const std::string& Path() const { return path_; }

private:
    int fd_ = -1;
    std::string path_;
};

// A reader's message must say something: one clear line.
inline void CheckMessage(const char* what) {
    const std::string m = what ? what : "";
    if (m.empty() || m.find('\n') != std::string::npos) {
        std::fprintf(stderr, "parser fuzz: unclear error message '%s'\n", m.c_str());
        std::abort();
    }
}

}  // namespace tvf2hard

#endif
