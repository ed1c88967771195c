// zrtool: talks to a UHF RFID reader through the zr library's C API, one verb per command.
#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform.h"
#include "protocol/hex.h"
#include "session.h"
#include "shell.h"
#include "verb.h"
#include "zr.h"

using namespace zrtool;

namespace {

const char* kGlobalHelp =
    "usage: zrtool CONNECTION [--json] VERB [OPTIONS]\n"
    "       zrtool CONNECTION [--json] shell           verbs typed at a prompt, one session for all\n"
    "       zrtool CONNECTION [--json] run FILE|-      the verbs of a file, one a line\n"
    "       zrtool scan [--subnet A.B.C.0/24] [--ports LIST]\n"
    "       zrtool VERB --help\n"
    "\n"
    "Talks to a UHF RFID reader through the zr library: one verb per reader command.\n"
    "\n"
    "Connection (one of):\n"
    "  --simulate                start the built-in reader simulator and talk to it over loopback TCP\n"
    "  --simulate --serial       the same over the simulator's pseudo-terminal (serial link)\n"
    "  --tcp ADDRESS[:PORT]      a reader at ADDRESS (dotted IPv4), port PORT (default 7086)\n"
    "  --serial PORT             a reader on serial port PORT (/dev/ttyUSB0, COM3), 19200 baud\n"
    "  --config FILE --section NAME\n"
    "                            the settings as an application uses them (INI file)\n"
    "\n"
    "  --device-class N          with any of them: the reader's device class, 1, 2 or 3 (default\n"
    "                            3, or the key ZRTOOL_DEVICE_CLASS of the --config section): how\n"
    "                            the library reads its status bytes; with --simulate the\n"
    "                            simulator answers so too\n"
    "  --timing fixed|whole      with any of them: the session's reply timing, set after the\n"
    "                            open (default: the --config section's ZR_REPLY_TIMING, else\n"
    "                            fixed); whole returns each reply as soon as it is whole\n"
    "\n"
    "Output:\n"
    "  --json                    one JSON document on standard output instead of text, also\n"
    "                            for usage errors (inventory --watch: one document per round)\n"
    "  --trace                   the library's wire trace on standard error (\"zr: \" lines): every\n"
    "                            frame on the line, its command and what became of it, and events\n"
    "                            such as a lost link; with --simulate also the simulator's frames\n"
    "                            (\"sim: \" lines)\n"
    "  --help                    this text; after a verb, the verb's own; with --json, the\n"
    "                            verbs and their arguments as JSON\n"
    "  --version                 the version of zrtool and of the zr library it loaded\n"
    "\n"
    "Arguments: bytes in decimal or 0x-hex (--antenna 1, --option 0x10); byte strings in hex\n"
    "(--tag-id E200341201020301, --password 00000000; spaces, ':' and ',' may separate bytes).\n"
    "\n"
    "Results print as the code and its meaning: \"1 ok\", \"-4 no valid reply\", \"1004 reader\n"
    "status 0x04\"; commands that only send print the number of bytes sent (\"8 bytes sent\").\n"
    "Exit status: 0 when the command succeeded (result 1; for commands that only send, a\n"
    "positive number of bytes sent), 1 when it did not or the session could not be opened,\n"
    "2 for a usage error.\n";

const char* type_word(const Arg& a) {
    switch (a.type) {
        case Type::byte: return "BYTE";
        case Type::integer: return "INT";
        case Type::hex: return "HEX";
        case Type::text: return "TEXT";
        case Type::flag: return "";
        case Type::rest: return "";
    }
    return "";
}

std::string arg_usage(const Arg& a) {
    if (a.type == Type::rest) return std::string(a.name) + "...";
    std::string s = std::string("--") + a.name;
    if (a.type != Type::flag) s += std::string(" ") + type_word(a);
    return a.fallback ? "[" + s + "]" : s;
}

// "  --name TYPE         help text" with the help wrapped to the width of a terminal.
void print_wrapped(std::FILE* f, const std::string& name, const std::string& help) {
    constexpr std::size_t kIndent = 25, kWidth = 100;
    std::string line = "  " + name;
    line.resize(std::max(line.size() + 1, kIndent), ' ');
    if (line.size() > kIndent) {
        std::fprintf(f, "%s\n", line.substr(0, line.size() - 1).c_str());
        line.assign(kIndent, ' ');
    }
    std::size_t start = line.size();
    std::size_t i = 0;
    while (i < help.size()) {
        std::size_t end = help.find(' ', i);
        if (end == std::string::npos) end = help.size();
        const std::string word = help.substr(i, end - i);
        if (line.size() > start && line.size() + 1 + word.size() > kWidth) {
            std::fprintf(f, "%s\n", line.c_str());
            line.assign(kIndent, ' ');
        } else if (line.size() > start) {
            line += ' ';
        }
        line += word;
        start = kIndent;
        i = end + 1;
    }
    std::fprintf(f, "%s\n", line.c_str());
}

void print_global_help(std::FILE* f) {
    std::fputs(kGlobalHelp, f);
    std::fputs("\nVerbs:\n", f);
    for (auto* g : verb_groups()) {
        std::fprintf(f, "  %s\n", g->title);
        for (const auto& v : g->verbs) {
            std::string fn = *v.function ? std::string(" (") + v.function + ")" : "";
            print_wrapped(f, std::string("  ") + v.name, v.summary + fn);
        }
    }
    std::fputs(
        "\nExamples:\n  zrtool --simulate demo\n  zrtool --simulate reset\n"
        "  zrtool --config reader.ini --section reader1 --json reset\n"
        "  printf 'identify\\nreport\\n' | zrtool --simulate run -\n"
        "  zrtool scan --subnet 192.168.1.0/24 > readers.ini\n"
        "  zrtool decode 55 00 01 61 07 46\n",
        f);
}

const char* kind_name(Kind k) {
    switch (k) {
        case Kind::status: return "status";
        case Kind::send_only: return "send_only";
        case Kind::report: return "report";
        case Kind::tool: return "tool";
    }
    return "";
}

const char* type_name(Type t) {
    switch (t) {
        case Type::byte: return "byte";
        case Type::integer: return "integer";
        case Type::hex: return "hex";
        case Type::text: return "text";
        case Type::flag: return "flag";
        case Type::rest: return "rest";
    }
    return "";
}

// --help --json: the verb tables, for scripts and for the tests that run every verb.
Json verbs_json(const Verb* only) {
    auto verbs = Json::array();
    for (auto* g : verb_groups())
        for (const auto& v : g->verbs) {
            if (only && only != &v) continue;
            auto j = Json::object();
            j.set("name", v.name);
            j.set("function", v.function);
            j.set("group", g->title);
            j.set("summary", v.summary);
            j.set("kind", kind_name(v.kind));
            j.set("needs_session", v.needs_session);
            j.set("example", v.example);
            auto args = Json::array();
            for (const auto& a : v.args) {
                auto x = Json::object();
                x.set("name", a.name);
                x.set("type", type_name(a.type));
                x.set("default", a.fallback ? Json(a.fallback) : Json());
                x.set("help", a.help);
                if (a.size) x.set("size", a.size);
                args.push(x);
            }
            j.set("args", args);
            verbs.push(j);
        }
    return Json::object().set("verbs", verbs);
}

void print_verb_help(const Verb& v, std::FILE* f) {
    std::string line = std::string("usage: zrtool ") + (v.needs_session ? "CONNECTION " : "") + v.name;
    for (const auto& a : v.args) line += " " + arg_usage(a);
    std::fprintf(f, "%s\n\n  %s", line.c_str(), v.summary);
    if (*v.function) std::fprintf(f, " (%s)", v.function);
    std::fputs(".\n", f);
    if (!v.args.empty()) {
        std::fputs("\nOptions:\n", f);
        for (const auto& a : v.args) {
            std::string name = a.type == Type::rest ? std::string(a.name) + "..."
                                                     : std::string("--") + a.name + (a.type == Type::flag ? "" : " ") +
                                                           type_word(a);
            std::string help = a.help;
            if (a.type == Type::hex && a.size) help += " (" + std::to_string(a.size) + " bytes)";
            if (!a.fallback) help += " (required)";
            else if (*a.fallback) help += std::string(" (default ") + a.fallback + ")";
            print_wrapped(f, name, help);
        }
    }
    if (v.prepared) std::fprintf(f, "\nWith --simulate, %s.\n", v.prepared);
    std::fprintf(f, "\nExample:\n  %s\n", v.example);
    if (v.needs_session) std::fputs("\nConnection options: see zrtool --help.\n", f);
}

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

bool parse_number(const std::string& s, long long min, long long max, long long& out) {
    if (s.empty()) return false;
    std::size_t i = 0;
    bool negative = false;
    if (s[0] == '-' || s[0] == '+') {
        negative = s[0] == '-';
        i = 1;
    }
    int base = 10;
    if (s.size() > i + 1 && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= s.size() || s.size() - i > 12) return false;
    long long v = 0;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        int d;
        if (std::isdigit(static_cast<unsigned char>(c))) d = c - '0';
        else if (base == 16 && std::isxdigit(static_cast<unsigned char>(c))) d = std::tolower(c) - 'a' + 10;
        else return false;
        v = v * base + d;
    }
    out = negative ? -v : v;
    return out >= min && out <= max;
}

Call::Value parse_value(const Arg& a, const std::string& text) {
    Call::Value value;
    const std::string opt = std::string("--") + a.name;
    switch (a.type) {
        case Type::byte:
            if (!parse_number(text, 0, 255, value.number))
                throw UsageError(opt + " wants a byte, 0-255 in decimal or 0x-hex, not '" + text + "'");
            break;
        case Type::integer:
            if (!parse_number(text, INT32_MIN, INT32_MAX, value.number))
                throw UsageError(opt + " wants a number in decimal or 0x-hex, not '" + text + "'");
            break;
        case Type::hex:
            if (!zr::protocol::parse_hex(text, value.bytes) || value.bytes.empty())
                throw UsageError(opt + " wants bytes in hex (two digits each), not '" + text + "'");
            if (a.size && static_cast<int>(value.bytes.size()) != a.size)
                throw UsageError(opt + " wants " + std::to_string(a.size) + " bytes (" + std::to_string(a.size * 2) +
                                 " hex digits), not " + std::to_string(value.bytes.size()));
            break;
        case Type::text:
            value.text = text;
            break;
        case Type::flag:
            value.number = text.empty() ? 0 : 1;
            break;
        case Type::rest:
            break;
    }
    return value;
}

struct Parsed {
    Connection connection;
    bool json = false;
    bool help = false;
    const Verb* verb = nullptr;
    std::map<std::string, Call::Value> values;
    std::vector<std::string> rest;
};

bool has_option(const Verb& v, const char* name) {
    return std::any_of(v.args.begin(), v.args.end(), [&](const Arg& a) { return std::string(a.name) == name; });
}

// Fills `p` as far as it gets, so that a usage error can still name the verb.
// `in_session`: a line of shell or run, whose session is open already.
void parse(const std::vector<std::string>& args, Parsed& p, bool in_session) {
    std::map<std::string, std::string> verb_options;  // option -> value as typed
    auto global_value = [&](std::size_t& i, const std::string& name) -> std::string {
        if (i + 1 >= args.size()) throw UsageError(name + " needs a value");
        return args[++i];
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string a = args[i], inline_value;
        bool has_inline = false;
        if (a.rfind("--", 0) == 0) {
            if (auto eq = a.find('='); eq != std::string::npos) {
                inline_value = a.substr(eq + 1);
                a = a.substr(0, eq);
                has_inline = true;
            }
        }
        auto value = [&](const std::string& name) { return has_inline ? inline_value : global_value(i, name); };
        if (a == "--help" || a == "-h") p.help = true;
        else if (a == "--json") p.json = true;
        else if (a == "--trace") p.connection.trace = true;
        else if (a == "--simulate") p.connection.simulate = true;
        else if (a == "--tcp") p.connection.tcp = value(a);
        else if (a == "--config") p.connection.config = value(a);
        else if (a == "--section") p.connection.section = value(a);
        // decode has a --device-class of its own, for the frames it reads.
        else if (a == "--device-class" && !(p.verb && has_option(*p.verb, "device-class")))
            p.connection.device_class = value(a);
        else if (a == "--timing") p.connection.timing = value(a);
        else if (a == "--serial") {
            // The port is optional: "--simulate --serial" takes the simulator's own. A verb's
            // name or an option after it is never a port.
            p.connection.serial_flag = true;
            if (has_inline) p.connection.serial = inline_value;
            else if (i + 1 < args.size() && args[i + 1].rfind("-", 0) != 0 && !find_verb(args[i + 1]))
                p.connection.serial = args[++i];
        } else if (!p.verb) {
            if (a.rfind("-", 0) == 0) throw UsageError("unknown option '" + args[i] + "'");
            p.verb = find_verb(a);
            if (!p.verb) throw UsageError("unknown verb '" + a + "' (zrtool --help lists them)");
        } else if (a.rfind("--", 0) == 0 && a.size() > 2) {
            const std::string name = a.substr(2);
            const Arg* arg = nullptr;
            for (const auto& x : p.verb->args)
                if (name == x.name && x.type != Type::rest) arg = &x;
            if (!arg) throw UsageError(std::string(p.verb->name) + " has no option '" + a + "'");
            if (verb_options.count(name)) throw UsageError(a + " is given twice");
            if (arg->type == Type::flag) {
                if (has_inline) throw UsageError(a + " takes no value");
                verb_options[name] = "1";
            } else if (has_inline) {
                verb_options[name] = inline_value;
            } else {
                // A value may start with '-' (a negative number), so the next word is taken as is.
                if (i + 1 >= args.size()) throw UsageError(a + " needs a value");
                verb_options[name] = args[++i];
            }
        } else {
            bool takes_rest = false;
            for (const auto& x : p.verb->args) takes_rest |= x.type == Type::rest;
            if (!takes_rest) throw UsageError(std::string(p.verb->name) + " takes no argument '" + a + "'");
            p.rest.push_back(args[i]);
        }
    }
    if (p.help || !p.verb) return;
    for (const auto& a : p.verb->args) {
        if (a.type == Type::rest) continue;
        auto it = verb_options.find(a.name);
        if (it == verb_options.end()) {
            if (!a.fallback) throw UsageError(std::string(p.verb->name) + " needs --" + a.name);
            // An empty default: an optional option that is simply absent (no bytes).
            p.values[a.name] = *a.fallback ? parse_value(a, a.fallback) : Call::Value{};
        } else {
            p.values[a.name] = parse_value(a, it->second);
            p.values[a.name].given = true;
            if (a.needs && !verb_options.count(a.needs))
                throw UsageError(std::string("--") + a.name + " works with --" + a.needs + " only");
        }
        const long long n = p.values[a.name].number;
        if (a.type == Type::integer && (n < a.min || n > a.max))
            throw UsageError(std::string("--") + a.name + " wants " + std::to_string(a.min) + " to " +
                             std::to_string(a.max) + ", not " + std::to_string(n));
    }
    if (in_session) {
        const Connection& c = p.connection;
        if (!c.config.empty() || !c.section.empty() || !c.tcp.empty() || c.serial_flag || c.simulate || c.trace ||
            !c.device_class.empty() || !c.timing.empty())
            throw UsageError("connection options go before shell or run, not on its lines");
        if (std::string(p.verb->name) == "shell" || std::string(p.verb->name) == "run")
            throw UsageError(std::string(p.verb->name) + " runs on a session of its own, not inside one");
    } else if (p.verb->needs_session) {
        if (auto problem = p.connection.problem(); !problem.empty()) throw UsageError(problem);
    }
}

// `cause`: the library's words for a failure ("" on success); in text only where it says
// more than the result's own text.
void print_result(const Call& call, int result, const std::string& cause) {
    const Verb& v = call.verb();
    if (call.json()) {
        auto j = Json::object();
        j.set("verb", v.name);
        j.set("function", v.function);
        put_result(j, result, v.kind);
        if (!cause.empty()) j.set("cause", cause);
        j.set("outputs", call.outputs());
        std::printf("%s\n", j.dump().c_str());
        return;
    }
    std::printf("%s: %s\n", v.name, describe(result, v.kind).c_str());
    if (!cause.empty() && cause != ZRResultText(result)) std::printf("  cause: %s\n", cause.c_str());
    for (const auto& m : call.outputs().members()) std::printf("  %s: %s\n", m.key.c_str(), m.value.text().c_str());
}

void on_interrupt(int signal) {
    if (catch_interrupts && !interrupted) {
        interrupted = true;
        return;
    }
    os::restore_terminal();
    remove_temporary_files();
    std::_Exit(128 + signal);
}

void print_usage_error(const Parsed& p, const UsageError& e, bool in_session) {
    if (p.json) {
        auto j = Json::object();
        j.set("verb", p.verb ? Json(p.verb->name) : Json());
        j.set("usage_error", e.what());
        j.set("success", false);
        std::printf("%s\n", j.dump().c_str());
    }
    std::fprintf(stderr, "zrtool: %s\n", e.what());
    if (!in_session)
        std::fprintf(stderr, "Try 'zrtool --help'%s.\n",
                     p.verb ? (std::string(" or 'zrtool ") + p.verb->name + " --help'").c_str() : "");
}

// Runs the parsed verb on `handle` and prints its result: the exit status.
int perform(Parsed& p, int handle, const std::string& section) {
    Call call(*p.verb, std::move(p.values), std::move(p.rest), handle, p.json);
    call.set_section(section);
    const int result = p.verb->run(call);
    if (p.verb->kind != Kind::tool) print_result(call, result, succeeded(result, p.verb->kind) ? "" : ZRLastCause());
    std::fflush(stdout);
    if (p.verb->kind != Kind::tool) return succeeded(result, p.verb->kind) ? kExitOk : kExitFailed;
    // A tool verb reports its own usage errors on standard error; under --json standard
    // output still gets its document.
    if (result == kExitUsage && p.json)
        std::printf("%s\n", Json::object()
                                .set("verb", p.verb->name)
                                .set("usage_error", std::string(p.verb->name) + ": bad arguments (see standard error)")
                                .set("success", false)
                                .dump()
                                .c_str());
    return result;
}

int run(int argc, char** argv) {
    Parsed p;
    const std::vector<std::string> args(argv + 1, argv + argc);
    // Known before parsing, so that a usage error anywhere still answers in JSON.
    p.json = std::find(args.begin(), args.end(), "--json") != args.end();
    try {
        parse(args, p, false);
    } catch (const UsageError& e) {
        print_usage_error(p, e, false);
        return kExitUsage;
    }
    if (p.help) {
        if (p.json) std::printf("%s\n", verbs_json(p.verb).dump().c_str());
        else if (p.verb) print_verb_help(*p.verb, stdout);
        else print_global_help(stdout);
        return kExitOk;
    }
    if (!p.verb) {
        if (p.json)
            std::printf("%s\n", Json::object().set("verb", Json()).set("usage_error", "no verb given")
                                     .set("success", false).dump().c_str());
        std::fprintf(stderr, "zrtool: no verb given\n");
        print_global_help(stderr);
        return kExitUsage;
    }

    std::signal(SIGINT, on_interrupt);
    std::signal(SIGTERM, on_interrupt);
    Session session;
    if (p.verb->needs_session) {
        std::string error;
        const int opened = session.open(p.connection, error);
        for (const auto& w : session.warnings()) std::fprintf(stderr, "zrtool: warning: %s\n", w.c_str());
        if (!error.empty()) {
            std::fprintf(stderr, "zrtool: %s\n", error.c_str());
            return kExitFailed;
        }
        if (opened != ZR_OK) {
            const std::string cause = ZRLastCause();
            if (p.json) {
                auto j = Json::object();
                j.set("verb", "open");
                j.set("function", "ZROpen");
                put_result(j, opened, Kind::status);
                j.set("cause", cause);
                j.set("target", session.target());
                std::printf("%s\n", j.dump().c_str());
            } else {
                // The library's cause says what is wrong; the result's text is generic (0 covers
                // several unrelated things).
                if (!cause.empty() && cause != ZRResultText(opened)) {
                    std::printf("open %s: %s\n", session.target().c_str(), cause.c_str());
                    std::printf("  result: %s\n", describe(opened, Kind::status).c_str());
                } else {
                    std::printf("open %s: %s\n", session.target().c_str(), describe(opened, Kind::status).c_str());
                }
            }
            return kExitFailed;
        }
    }
    if (p.verb->prepare && p.connection.simulate) p.verb->prepare(session.handle(), *session.simulator());
    const int status = perform(p, session.handle(), session.section());
    if (const int closed = session.close(); closed != ZR_OK)
        std::fprintf(stderr, "zrtool: close: %s (%s)\n", describe(closed, Kind::status).c_str(), ZRLastCause());
    return status;
}

}  // namespace

int zrtool::execute_words(const std::vector<std::string>& words, const Call& outer) {
    if (words[0] == "help" && words.size() <= 2) {
        if (words.size() == 1) {
            print_verb_list();
            return kExitOk;
        }
        if (const Verb* v = find_verb(words[1])) {
            print_verb_help(*v, stdout);
            return kExitOk;
        }
        std::fprintf(stderr, "zrtool: unknown verb '%s' (help lists them)\n", words[1].c_str());
        return kExitUsage;
    }
    Parsed p;
    p.json = outer.json() || std::find(words.begin(), words.end(), "--json") != words.end();
    try {
        parse(words, p, true);
    } catch (const UsageError& e) {
        print_usage_error(p, e, true);
        return kExitUsage;
    }
    if (p.help) {
        if (p.json) std::printf("%s\n", verbs_json(p.verb).dump().c_str());
        else if (p.verb) print_verb_help(*p.verb, stdout);
        else print_verb_list();
        return kExitOk;
    }
    if (!p.verb) return kExitOk;
    const int status = perform(p, p.verb->needs_session ? outer.handle() : -1, outer.section());
    // A Ctrl-C that ended inventory --watch ends only that line: the session goes on.
    catch_interrupts = false;
    interrupted = false;
    return status;
}

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--version") {
        // The library's version is the one loaded, which may not be the one built against.
        std::printf("zrtool %s\nlibrary %s, %d-bit\n", ZR_VERSION_STRING, ZRVersion(),
                    static_cast<int>(sizeof(void*) * 8));
        return kExitOk;
    }
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zrtool: internal error: %s\n", e.what());
        return kExitFailed;
    }
}
