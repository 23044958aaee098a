// The text-cleaning helpers, the classification of names and rtof on arbitrary text, at the highest
// verbosity so every message is formatted too.
#include <string>

#include "fuzz_common.h"
#include "math_tool2.h"
#include "pdb8.h"
#include "string_tool2.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::setup();
    const std::string text = fuzz::text(data, size);
    fuzz::run([&] {
        std::string in = text, out;
        del0beg(in, out);
        in = text;
        delspdotbeg(in, out);
        delsp(text, out);
        delnl(text, out);
        delquote(text, out);
        delspbeg(text, out);
        delspend(text, out);
        for (int v : {static_cast<int>(size) - 5, static_cast<int>(size)})
            itoc(v);
        get_extname(text, '.', out);
        remove_path(text, out);
        get_outputname(text, text.substr(text.size() / 2), "pdb", out);
        get_segid_from_name(text, out, 4);

        format_atm(text, out, 4);
        is_hydrogen(text, 4);
        is_known_AA(text, 4);
        is_pdb_cif(text, 4);
        get_achem(text, out, 4);
        PDBRESI res{};
        copy_field(res.rname, text);
        is_nuc(res, 4);

        rtof(text, 4);
    });
    return 0;
}
