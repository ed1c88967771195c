#include "shell.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>

#include "platform.h"
#include "verb.h"

namespace zrtool {

bool split_line(const std::string& line, std::vector<std::string>& words, std::string& error) {
    words.clear();
    std::string word;
    bool in_word = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (in_word) words.push_back(word);
            word.clear();
            in_word = false;
        } else if (c == '#' && !in_word) {
            break;
        } else if (c == '\'') {
            const auto end = line.find('\'', i + 1);
            if (end == std::string::npos) {
                error = "a ' is not closed";
                return false;
            }
            word += line.substr(i + 1, end - i - 1);
            in_word = true;
            i = end;
        } else if (c == '"') {
            in_word = true;
            for (++i;; ++i) {
                if (i >= line.size()) {
                    error = "a \" is not closed";
                    return false;
                }
                if (line[i] == '"') break;
                if (line[i] == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\')) ++i;
                word += line[i];
            }
        } else if (c == '\\' && i + 1 < line.size()) {
            word += line[++i];
            in_word = true;
        } else {
            word += c;
            in_word = true;
        }
    }
    if (in_word) words.push_back(word);
    return true;
}

void print_verb_list() {
    for (auto* g : verb_groups()) {
        bool titled = false;
        for (const auto& v : g->verbs) {
            if (std::string(v.name) == "shell" || std::string(v.name) == "run") continue;
            if (!titled) std::printf("%s\n", g->title);
            titled = true;
            std::printf("  %-22s %s\n", v.name, v.summary);
        }
    }
    std::printf("\nhelp VERB shows a verb's options; exit or end of input ends the session.\n");
}

namespace {

// Where the lines come from: a file, standard input as lines, or the terminal through a small
// editor (tab completes verb and option names, up and down walk the history).
class LineSource {
public:
    LineSource(std::istream& in, bool interactive) : in_(in), interactive_(interactive) {
        // The editor's history outlives the session in ~/.zrtool_history.
        if (!interactive_ || !os::has_line_editor()) return;
        if (const char* home = std::getenv("HOME"); home && *home)
            history_file_ = std::string(home) + "/.zrtool_history";
        std::ifstream file(history_file_);
        for (std::string line; std::getline(file, line);)
            if (!line.empty()) history_.push_back(line);
        if (history_.size() > kKept) history_.erase(history_.begin(), history_.end() - kKept);
    }

    bool next(std::string& line) {
        if (!interactive_) return static_cast<bool>(std::getline(in_, line));
        bool got;
        if (os::has_line_editor()) {
            got = edit(line);
        } else {
            // The console's own line editing and history.
            std::fputs(kPrompt, stdout);
            std::fflush(stdout);
            got = static_cast<bool>(std::getline(in_, line));
        }
        if (got && !line.empty() && (history_.empty() || history_.back() != line)) {
            history_.push_back(line);
            if (!history_file_.empty()) std::ofstream(history_file_, std::ios::app) << line << "\n";
        }
        return got;
    }

private:
    static constexpr const char* kPrompt = "zrtool> ";
    static constexpr std::size_t kKept = 500;  // lines of the history file read back

    void redraw(const std::string& buf) {
        std::printf("\r\x1b[K%s%s", kPrompt, buf.c_str());
        std::fflush(stdout);
    }

    // The names that fit where the word being typed stands.
    std::vector<std::string> candidates(const std::string& before) {
        std::vector<std::string> words;
        std::string error;
        split_line(before, words, error);
        std::vector<std::string> names;
        if (words.empty() || (words.size() == 1 && !before.empty() && before.back() != ' ')) {
            for (auto* g : verb_groups())
                for (const auto& v : g->verbs) names.push_back(v.name);
            for (const char* own : {"help", "exit"}) names.push_back(own);
        } else if (words[0] == "help") {
            for (auto* g : verb_groups())
                for (const auto& v : g->verbs) names.push_back(v.name);
        } else if (const Verb* v = find_verb(words[0])) {
            for (const auto& a : v->args)
                if (a.type != Type::rest) names.push_back(std::string("--") + a.name);
            names.push_back("--help");
            names.push_back("--json");
        }
        return names;
    }

    void complete(std::string& buf, bool again) {
        const auto start = buf.find_last_of(' ') == std::string::npos ? 0 : buf.find_last_of(' ') + 1;
        const std::string word = buf.substr(start);
        std::vector<std::string> matches;
        for (auto& n : candidates(buf))
            if (n.rfind(word, 0) == 0) matches.push_back(n);
        std::sort(matches.begin(), matches.end());
        matches.erase(std::unique(matches.begin(), matches.end()), matches.end());
        if (matches.empty()) return;
        if (matches.size() == 1) {
            buf = buf.substr(0, start) + matches[0] + " ";
        } else {
            std::string common = matches[0];
            for (const auto& m : matches)
                while (m.rfind(common, 0) != 0) common.pop_back();
            if (common.size() > word.size()) {
                buf = buf.substr(0, start) + common;
            } else if (again) {
                std::printf("\n");
                for (const auto& m : matches) std::printf("%s  ", m.c_str());
                std::printf("\n");
            }
        }
        redraw(buf);
    }

    bool edit(std::string& line) {
        os::RawInput raw;
        std::string buf, saved;
        std::size_t at = history_.size();
        int last = 0;
        redraw(buf);
        for (;;) {
            int c = raw.read_byte();
            if (c == -1 || (c == 4 && buf.empty())) {
                std::printf("\n");
                return false;
            }
            if (c == '\r' || c == '\n') {
                std::printf("\n");
                std::fflush(stdout);
                line = buf;
                return true;
            }
            if (c == '\t') {
                complete(buf, last == '\t');
            } else if (c == 127 || c == 8) {
                // A whole UTF-8 character.
                while (!buf.empty() && (static_cast<unsigned char>(buf.back()) & 0xC0) == 0x80) buf.pop_back();
                if (!buf.empty()) buf.pop_back();
                redraw(buf);
            } else if (c == 21) {  // Ctrl-U
                buf.clear();
                redraw(buf);
            } else if (c == 27) {
                int c1 = raw.read_byte(), c2 = raw.read_byte();
                if ((c1 == '[' || c1 == 'O') && (c2 == 'A' || c2 == 'B')) {
                    if (c2 == 'A' && at > 0) {
                        if (at == history_.size()) saved = buf;
                        buf = history_[--at];
                    } else if (c2 == 'B' && at < history_.size()) {
                        buf = ++at == history_.size() ? saved : history_[at];
                    }
                    redraw(buf);
                }
            } else if (c >= 32) {
                buf += static_cast<char>(c);
                std::fputc(c, stdout);
                std::fflush(stdout);
            }
            last = c;
        }
    }

    std::istream& in_;
    bool interactive_;
    std::vector<std::string> history_;
    std::string history_file_;
};

// The lines of `source` one after the other; `stop` ends at the first that fails.
int run_lines(LineSource& source, const std::string& name, bool stop, const Call& outer) {
    std::vector<int> failed;
    std::string line, error;
    std::vector<std::string> words;
    for (int number = 1; source.next(line); ++number) {
        int status;
        if (!split_line(line, words, error)) {
            std::fprintf(stderr, "zrtool: %s line %d: %s\n", name.c_str(), number, error.c_str());
            status = kExitUsage;
        } else if (words.empty()) {
            continue;
        } else if (words[0] == "exit" || words[0] == "quit") {
            break;
        } else {
            status = execute_words(words, outer);
        }
        std::fflush(stdout);
        if (status == kExitOk) continue;
        failed.push_back(number);
        if (stop) {
            std::fprintf(stderr, "zrtool: %s line %d failed: %s\n", name.c_str(), number, line.c_str());
            return kExitFailed;
        }
    }
    if (failed.empty()) return kExitOk;
    std::string list;
    for (int n : failed) list += (list.empty() ? "" : ", ") + std::to_string(n);
    std::fprintf(stderr, "zrtool: %s: %zu line%s failed (%s)\n", name.c_str(), failed.size(),
                 failed.size() == 1 ? "" : "s", list.c_str());
    return kExitFailed;
}

const VerbGroup kShell(
    5, "Several verbs on one session",
    {
        {"shell",
         "",
         "read verbs at a prompt and run them on one session (help lists them; tab completes, up and "
         "down recall earlier lines)",
         {},
         "zrtool --simulate shell",
         [](Call& c) {
             // Prompts and the editor only for a person at a terminal; piped input is read as lines.
             LineSource source(std::cin, os::is_terminal(0) && os::is_terminal(1));
             return run_lines(source, "shell", false, c);
         },
         Kind::tool},
        {"run",
         "",
         "run the verbs of a file (- for standard input) on one session, one a line with its options; "
         "'#' starts a comment; stops at the first line that fails",
         {flag_arg("keep-going", "run every line, failed or not (exit status 1 if any failed)"),
          rest_arg("file", "the file of verbs, or - for standard input")},
         "zrtool --simulate run -",
         [](Call& c) {
             if (c.rest().size() != 1) {
                 std::fprintf(stderr, "zrtool: run wants one file (or - for standard input)\n");
                 return kExitUsage;
             }
             const std::string& path = c.rest()[0];
             if (path == "-") {
                 LineSource source(std::cin, false);
                 return run_lines(source, "standard input", !c.flag("keep-going"), c);
             }
             std::ifstream file(path, std::ios::binary);
             if (!file) {
                 std::fprintf(stderr, "zrtool: run: cannot read %s\n", path.c_str());
                 return kExitFailed;
             }
             LineSource source(file, false);
             return run_lines(source, path, !c.flag("keep-going"), c);
         },
         Kind::tool},
    });

}  // namespace
}  // namespace zrtool
