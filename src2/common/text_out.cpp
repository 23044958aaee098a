#include "common/text_out.h"

namespace {
thread_local std::FILE* redirected = nullptr;
}  // namespace

std::FILE* text_out() {
    return redirected != nullptr ? redirected : stdout;
}

TextOutRedirect::TextOutRedirect(std::FILE* stream) : previous_(redirected) {
    redirected = stream;
}

TextOutRedirect::~TextOutRedirect() {
    redirected = previous_;
}
