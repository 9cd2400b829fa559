#pragma once

#include "command_line.h"

#include <cstdio>
#include <string_view>

namespace quillmere::cli {

// Text to a C stream. The C++ streams would start the locale machinery, which costs a static
// program about half a mebibyte of memory and a part of its start.
class TextOut {
public:
    explicit TextOut(std::FILE* file) : file_(file) {}
    TextOut& operator<<(std::string_view text) {
        std::fwrite(text.data(), 1, text.size(), file_);
        return *this;
    }
    TextOut& operator<<(char c) {
        std::fputc(c, file_);
        return *this;
    }
    TextOut& operator<<(std::size_t number) {
        std::fprintf(file_, "%zu", number);
        return *this;
    }
    void flush() { std::fflush(file_); }
    // Whether everything reached the system.
    bool flushedWhole() { return std::fflush(file_) == 0 && !std::ferror(file_); }

private:
    std::FILE* file_;
};

// Runs the conversions an invocation asks for, reporting each on `out` (complete) or `err`
// (warnings and failures). Returns the process's exit status.
int runConversions(const Invocation& invocation, TextOut& out, TextOut& err, bool showProgress);

} // namespace quillmere::cli
