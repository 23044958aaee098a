#include <string>

#include "string_tool2.h"

namespace {

// The text after the last `separator`, or the whole of `input` when there is none.
std::string_view after_last(std::string_view input, char separator) {
    const std::size_t pos = input.rfind(separator);
    return pos == std::string_view::npos ? input : input.substr(pos + 1);
}

int assign(std::string& output, std::string result) {
    output = std::move(result);
    return static_cast<int>(output.size());
}

}  // namespace

int get_extname(std::string_view input, char separator, std::string& output) {
    return assign(output, std::string(after_last(input, separator)));
}

int remove_path(std::string_view input, std::string& output) {
    return assign(output, std::string(after_last(input, '/')));
}

int get_outputname(std::string_view input, std::string_view extin, std::string_view extout,
                   std::string& output) {
    std::string result;
    if (input.find(extin) != std::string_view::npos) {
        // The last extin.size() characters are replaced, wherever the occurrence was found.
        result = input.substr(0, input.size() - extin.size());
    } else {
        result = input;
    }
    result += extout;
    return assign(output, std::move(result));
}

void get_segid_from_name(std::string_view fname, std::string& outsegid, int /*LEVEL*/) {
    std::string result(6, ' ');
    result += after_last(fname, '/').substr(0, 4);
    outsegid = std::move(result);
}
