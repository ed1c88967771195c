// The tags in the simulated reader's field, from a small text file or the command line.
//
// One tag per line (or per --tag argument): key=value pairs separated by blanks, values in hex
// (separators ':' '-' ',' allowed inside a value, e.g. id=E2:00:34:12:01:02:03:01).
//   id=8 bytes  epc=bytes (whole words, at most 62)  tid=bytes (at most 32)
//   user=bytes (whole words, at most 512)  visit=4 bytes  destroy=4 bytes  eas=0|1  killed=0|1
// A key left out takes the value of the default population's pattern for that tag's place
// (tag n: identifier E2 00 34 12 01 02 03 n, and so on). '#' starts a comment; empty lines
// are skipped.
#pragma once

#include <string>
#include <vector>

#include "model.h"

namespace zr::sim {

// The default tag at place `index` (0-based): the pattern of ReaderModel::default_tags().
Tag default_tag(std::size_t index);

// One tag description; `index` is its place (for the defaults). false + `error` on bad input.
bool parse_tag(const std::string& text, std::size_t index, Tag& out, std::string& error);
// Every tag of a file's text, appended to `out`.
bool parse_population(const std::string& text, std::vector<Tag>& out, std::string& error);
bool load_population(const std::string& path, std::vector<Tag>& out, std::string& error);

}  // namespace zr::sim
