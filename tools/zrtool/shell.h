// Several verbs on one session: zrtool CONNECTION shell (lines typed at a prompt) and
// zrtool CONNECTION run FILE|- (lines of a file). A line is a verb and its options, split as
// a shell splits words; a start command and its report then share the session they need.
#pragma once

#include <string>
#include <vector>

namespace zrtool {

class Call;

// Splits `line` into words: blanks separate them, '...' keeps everything as it is, "..."
// keeps everything but \" and \\, a backslash outside quotes keeps the next character, and a
// '#' where a word could start begins a comment. false with `error` set for an open quote.
bool split_line(const std::string& line, std::vector<std::string>& words, std::string& error);

// Runs one line's words on the session of `outer` (the shell or run verb): the verb's exit
// status, 2 for a usage error. Defined by main.cpp, which parses and prints verbs.
int execute_words(const std::vector<std::string>& words, const Call& outer);

// The verb listing of the shell's help.
void print_verb_list();

}  // namespace zrtool
