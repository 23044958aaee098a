// String tools: file-name helpers, text-cleaning helpers and err1, the fatal error report.
//
// Texts come in as std::string_view and go out through std::string&; every function builds its result
// before it writes the output, so an output may be the same string as an input. No length limit applies.
#ifndef VOXMOL_STRING_TOOL2_H
#define VOXMOL_STRING_TOOL2_H

#include <string>
#include <string_view>

// ---- File names -------------------------------------------------------------------------------------

// `output` receives the text after the last `separator` of `input` (the whole input when it holds none);
// returns its length.
int get_extname(std::string_view input, char separator, std::string& output);

// `output` receives the base name: the text after the last "/", or the whole input; returns its length.
int remove_path(std::string_view input, std::string& output);

// When `extin` occurs anywhere in `input`, `output` receives `input` without its last extin.size()
// characters, followed by `extout`; otherwise `input` followed directly by `extout`. Returns the length.
int get_outputname(std::string_view input, std::string_view extin, std::string_view extout,
                   std::string& output);

// `outsegid` receives six blanks and the first four characters of the base name of `fname`, the segment
// identifier as it lands in columns 73-76 of an ATOM line. LEVEL is not used.
void get_segid_from_name(std::string_view fname, std::string& outsegid, int LEVEL);

// ---- Cleaning helpers and small conversions ---------------------------------------------------------

int del0beg(std::string& strin, std::string& strout);
char itoc(int val);
int delsp(std::string_view strin, std::string& strout);
int delnl(std::string_view strin, std::string& strout);
int delquote(std::string_view strin, std::string& strout);
int delspbeg(std::string_view strin, std::string& strout);
int delspdotbeg(std::string& strin, std::string& strout);
int delspend(std::string_view strin, std::string& strout);
[[noreturn]] void err1(std::string_view where, std::string_view message);

#endif  // VOXMOL_STRING_TOOL2_H
