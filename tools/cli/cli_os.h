// What the command-line host (and the simulator's log) needs from the
// operating system, in one place: the text conversions between the
// terminal's UTF-8 and the library's GBK, the command line as UTF-8, and
// the folder of the running program.  cli_os_posix.cpp and
// cli_os_windows.cpp implement it.
#pragma once

#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace qv::cli {

enum class Conversion { GbkToUtf8, Utf8ToGbk };

// Converts `in`, appending to `out`; returns false at the first byte that
// cannot be converted (not valid in its encoding, or a character that GBK
// lacks).  GbkToUtf8 converts as much as it can and leaves `in` at that
// byte; after a failed Utf8ToGbk, `in` and `out` hold no meaning.
bool convert(Conversion conversion, std::string_view &in, std::string &out);

// The program's arguments (without its name) as UTF-8.
std::vector<std::string> utf8_arguments(int argc, char **argv);

// Makes a console show what the program writes as UTF-8 (a terminal here
// already does).
void show_utf8_on_console();

// The folder of the running program's file; empty when unknown.
std::filesystem::path program_folder();

// Raises the number of sockets the process may hold open as far as the
// system lets it (the soft limit of descriptors to the hard one on POSIX
// systems; Windows sets no such limit).
void allow_many_sockets();

// Whether standard output is a terminal (a progress bar) or not (lines).
bool stdout_is_terminal();

// A time (seconds since 1970) as UTC's calendar fields.
std::tm utc_time(std::time_t seconds);

}  // namespace qv::cli
