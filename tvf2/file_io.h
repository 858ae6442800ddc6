// Input and output files, with "-" for stdin / stdout.
//
// Output goes to a temporary file in the target's directory that is renamed over the
// target only when everything succeeded (Commit). A failed run, an exception or a
// SIGINT/SIGTERM/SIGHUP removes the temporary file, so no partial or empty output is
// ever left behind and an existing file is replaced only by a complete one. Standard
// output is streamed as it is written.
#ifndef TVF2_TOOL_FILE_IO_H
#define TVF2_TOOL_FILE_IO_H

#include <cstddef>
#include <cstdio>
#include <string>

namespace tvf2 {

class InputFile {
public:
    // Throws Failure when the file cannot be opened or is a directory.
    explicit InputFile(const std::string& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    const std::string& Name() const { return name_; }  // the path, or "stdin"

    // Reads up to n bytes; fewer only at the end of the input or on a read error
    // (then Failed()). Never throws: libpng calls it from C code.
    size_t Read(void* dst, size_t n) noexcept;
    bool Failed() const { return errno_ != 0; }
    std::string ErrorText() const;  // the read error, for messages

    // Reads exactly n bytes or throws Failure ("truncated ..." naming `what`).
    void ReadExact(void* dst, size_t n, const char* what);

    // Puts bytes back in front of the input (at most once, before any other read): how
    // the format is sniffed from the first bytes of a pipe.
    void Unread(const void* data, size_t n);

    // Bytes in the input when it is a regular file, else -1.
    long long FileSize() const { return size_; }

private:
    std::string name_;
    FILE* file_ = nullptr;
    std::string pushback_;
    size_t pushbackPos_ = 0;
    long long size_ = -1;
    int errno_ = 0;
};

class OutputFile {
public:
    // Creates the temporary file now, so that an unwritable target fails before any
    // work is done. Throws Failure.
    explicit OutputFile(const std::string& path);
    ~OutputFile();  // without Commit(): removes the temporary file
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    const std::string& Name() const { return name_; }  // the path, or "stdout"
    FILE* Stream() const { return file_; }             // for libpng's writes

    void Write(const void* data, size_t n);  // throws Failure
    // Flushes and closes the temporary file and renames it to the target (for stdout:
    // flushes). Throws Failure; the target is untouched then.
    void Commit();

private:
    void Discard() noexcept;
    std::string name_, target_, temp_;
    FILE* file_ = nullptr;
    bool committed_ = false;
};

}  // namespace tvf2

#endif
