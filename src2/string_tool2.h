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
// The blank is the space character only; tabs are never blanks. Each helper writes its cleaned text to
// `strout`.

// Removes every "0" at the start; `strin` is changed too and ends holding the result. Returns 0.
int del0beg(std::string& strin, std::string& strout);

// The digit character of `val` for 0 to 9; the character with code 0 for any other value.
char itoc(int val);

// Removes every blank and every "\n" anywhere; returns the result's length.
int delsp(std::string_view strin, std::string& strout);

// Removes every "\n" and every "\r" anywhere; returns the result's length.
int delnl(std::string_view strin, std::string& strout);

// When the first and the last character are both "'", keeps the text between them (a lone "'" becomes
// empty); otherwise copies the text unchanged. Returns the result's length.
int delquote(std::string_view strin, std::string& strout);

// Removes every blank at the start. Returns 0.
int delspbeg(std::string_view strin, std::string& strout);

// Removes every blank and "." at the start, in any mix; `strin` is changed too and ends holding the
// result. Returns 0.
int delspdotbeg(std::string& strin, std::string& strout);

// Drops the last character, whatever it is, then every blank directly before it. Prints the trace line
// " !<strin>!<result>!  j=0   " on standard output at every call. Returns the result's length minus 1
// (-1 when the result is empty, the empty text included).
int delspend(std::string_view strin, std::string& strout);

// The string tools' fatal error report, the same as err (pdb8.h): prints
// "\n>ERROR IN <where>\n>ERRROR : <message>\n\n" on standard output and ends the process with status 1;
// a fatal report or handler installed for err (set_fatal_report, set_fatal_handler) takes it over alike.
[[noreturn]] void err1(std::string_view where, std::string_view message);

#endif  // VOXMOL_STRING_TOOL2_H
