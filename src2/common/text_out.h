// Where the library prints its messages (progress lines, warnings, echoes, the fatal block): standard
// output, unless the calling thread has been given another stream. A host that keeps what each call
// prints apart (the Python module, whose other threads go on printing while the library works) gives
// the thread a stream of its own, without touching descriptor 1.
#ifndef VOXMOL_COMMON_TEXT_OUT_H
#define VOXMOL_COMMON_TEXT_OUT_H

#include <cstdio>

// The calling thread's stream for messages.
std::FILE* text_out();

// puts() on text_out(): the text and a line end.
inline void put_line(const char* text) {
    std::FILE* out = text_out();
    std::fputs(text, out);
    std::fputc('\n', out);
}

// While it lives, the calling thread's messages go to `stream` (nullptr: standard output again).
class TextOutRedirect {
  public:
    explicit TextOutRedirect(std::FILE* stream);
    ~TextOutRedirect();
    TextOutRedirect(const TextOutRedirect&) = delete;
    TextOutRedirect& operator=(const TextOutRedirect&) = delete;

  private:
    std::FILE* previous_;
};

#endif  // VOXMOL_COMMON_TEXT_OUT_H
