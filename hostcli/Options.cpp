#include "Options.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdlib>
#include <map>

namespace {

bool parseInt(const std::string& text, int64_t low, int64_t high, int32_t& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno || *end || v < low || v > high) return false;
    out = static_cast<int32_t>(v);
    return true;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

int dataByteCount(uint8_t status) {
    uint8_t kind = status & 0xF0;
    return (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
}

bool parseLoop(const std::string& text, int32_t& start, int32_t& length, int32_t& times, std::string& error) {
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == ':')
            parts.emplace_back();
        else
            parts.back() += c;
    }
    int32_t s = 0, l = 0, t = 2;
    bool ok = (parts.size() == 2 || parts.size() == 3) && parseInt(parts[0], 0, INT32_MAX, s) &&
              parseInt(parts[1], 1, INT32_MAX, l) && (parts.size() == 2 || parseInt(parts[2], 1, 100000, t)) &&
              int64_t(s) + l <= INT32_MAX;
    if (!ok) {
        error = "--loop wants START:LENGTH[:TIMES] in ticks (START >= 0, LENGTH >= 1, TIMES >= 1), not \"" + text + "\"";
        return false;
    }
    start = s;
    length = l;
    times = t;
    return true;
}

bool parseHexBytes(const std::vector<std::string>& args, std::vector<uint8_t>& out, std::string& error) {
    std::vector<uint8_t> bytes;
    for (const std::string& arg : args) {
        std::string digits = arg;
        if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits.erase(0, 2);
        if (digits.empty() || digits.size() % 2) {
            error = "\"" + arg + "\" is not a run of two-digit hex bytes";
            return false;
        }
        for (size_t i = 0; i < digits.size(); i += 2) {
            int hi = hexDigit(digits[i]), lo = hexDigit(digits[i + 1]);
            if (hi < 0 || lo < 0) {
                error = "\"" + arg + "\" is not a run of two-digit hex bytes";
                return false;
            }
            bytes.push_back(uint8_t(hi << 4 | lo));
        }
    }
    out = bytes;
    return true;
}

bool splitMessages(const std::vector<uint8_t>& bytes, std::vector<MidiMessage>& out, std::string& error) {
    std::vector<MidiMessage> messages;
    uint8_t running = 0;
    size_t i = 0;
    while (i < bytes.size()) {
        uint8_t status = bytes[i];
        if (status >= 0xF0) {
            error = "only channel messages go through the live path (byte " + std::to_string(i) + " is a system byte)";
            return false;
        }
        if (status >= 0x80) {
            running = status;
            ++i;
        } else if (!running) {
            error = "byte " + std::to_string(i) + " is a data byte without a status byte";
            return false;
        }
        MidiMessage m;
        m.status = running;
        int need = dataByteCount(running);
        for (int k = 0; k < need; ++k, ++i) {
            if (i >= bytes.size() || bytes[i] >= 0x80) {
                error = "the message at byte " + std::to_string(i) + " is missing data bytes";
                return false;
            }
            (k == 0 ? m.data1 : m.data2) = bytes[i];
        }
        messages.push_back(m);
    }
    out = messages;
    return true;
}


namespace {

const char* const kProgram = "palisander-host";

// A CLI11 check in our own words; the message names the option itself.
CLI::Validator numberIn(int64_t low, int64_t high, const std::string& message) {
    return CLI::Validator(
        [=](std::string& text) {
            int32_t v;
            return parseInt(text, low, high, v) ? std::string() : message + ", not \"" + text + "\"";
        },
        "");
}

CLI::Validator durationCheck(const char* option, bool allowBars) {
    return CLI::Validator(
        [=](std::string& text) {
            Duration d;
            std::string error;
            return parseDuration(text, allowBars, d, error, option) ? std::string() : error;
        },
        "");
}

// CLI11 puts "NAME: " before a check's message; ours already starts with the name.
std::string oneLine(const CLI::Error& e) {
    std::string text = e.what();
    size_t colon = text.find(": ");
    if (colon != std::string::npos && text.compare(colon + 2, colon, text, 0, colon) == 0)
        text.erase(0, colon + 2);
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    return text;
}

// The whole command line as CLI11 sees it: one subcommand per command, each with --module
// and its own --help. Options fill `o`; the checks between options follow the parse.
class CommandLine {
public:
    CommandLine() : app_("A host for palisander.dll: plays MIDI through its MFX filters.", kProgram) {
        app_.allow_windows_style_options(false);  // "/tmp/a.mid" is a file, not an option
        app_.footer("Every command takes --module PATH (default: palisander.dll beside the program).\n"
                    "\"palisander-host COMMAND --help\" describes one command.");

        CLI::App* list = command("list", "the module's plug-in classes", Command::List);
        list->add_flag("--json", o.json, "print them as JSON");

        CLI::App* render = command("render", "plays a MIDI file through a filter into another", Command::Render);
        render->add_option("IN.mid", o.input, "the Standard MIDI File to play");
        render->add_option("OUT.mid", o.output, "the file to write the filter's output to");
        filterOption(render);
        render->add_option("--block", o.block, "ticks per process call (default: a 16th note)")
            ->type_name("TICKS")
            ->check(numberIn(1, 1 << 24, "--block wants a number of ticks from 1 up"));
        render->add_option("--state", o.stateIn, "restore this saved filter state first")->type_name("FILE");
        render->add_option("--save-state", o.stateOut, "save the filter's state here afterwards")->type_name("FILE");
        render->add_option("--loop", loopText_, "play a cycle TIMES times (default 2)")
            ->type_name("START:LENGTH[:TIMES]")
            ->check(CLI::Validator(
                [](std::string& text) {
                    int32_t s, l, t;
                    std::string error;
                    return parseLoop(text, s, l, t, error) ? std::string() : error;
                },
                ""));
        render->add_option("--tail", tailText_, "play on this long after the last event (0: stop there; "
                                                 "default: until nothing came out for a bar, at most 8 bars)")
            ->type_name("DURATION")
            ->check(durationCheck("--tail", true));

        CLI::App* live = command("live", "plays MIDI messages through the live path on the wall clock", Command::Live);
        live->add_option("BYTES", words_,
                         "hex MIDI bytes, each run at the @TIME before it (ms or s; without one at once), "
                         "e.g. @0 90 3C 64 @480ms 80 3C 00");
        filterOption(live);
        live->add_option("--for", forText_, "play on this long after the last message "
                                            "(default: until nothing came out for 1 s, at most 10 s)")
            ->type_name("DURATION")
            ->check(durationCheck("--for", false));
        live->add_flag("--json", o.json, "print the same as JSON records");

        CLI::App* editor = command("editor", "opens the filter's editor in a host window", Command::Editor);
        filterOption(editor);
        editor->add_option("--screenshot", o.screenshot, "save a picture of the editor and exit")
            ->type_name("FILE.png");

        CLI::App* bench = command("bench", "measures the module against the filter driven directly", Command::Bench);
        filterOption(bench, "the filter to measure (default: Transpose)");
        bench->add_option("--events", o.events, "events in the measured song (default 1000000)")
            ->type_name("N")
            ->check(numberIn(1, 100000000, "--events wants a count from 1 to 100000000"));

        CLI::App* validate = command("validate", "checks a filter through the module, level by level", Command::Validate);
        filterOption(validate);
        validate->add_option("--level", o.level, "1 load, 3 processing, 5 transport and state, 7 editor, 8 fuzz, "
                                                  "10 stress and timing; each includes the lower (default 5)")
            ->type_name("1..10")
            ->check(numberIn(1, 10, "--level wants a level from 1 to 10"));
        validate->add_option("--seed", o.seed, "seed of the generated input (default 1)")
            ->type_name("N")
            ->check(numberIn(0, INT32_MAX, "--seed wants a number from 0 up"));
        validate->add_option("--repeat", o.repeat, "rounds of each check, with the seeds after it (default 1)")
            ->type_name("N")
            ->check(numberIn(1, 1000, "--repeat wants a count from 1 to 1000"));
        validate->add_option("--timeout-ms", o.timeoutMs, "a check still running after this fails as hung (default 60000)")
            ->type_name("N")
            ->check(numberIn(100, 3600000, "--timeout-ms wants milliseconds from 100 to 3600000"));
        validate->add_option("--stress-events", o.stressEvents, "events of the stress check (default 1000000)")
            ->type_name("N")
            ->check(numberIn(1000, 100000000, "--stress-events wants a count from 1000 to 100000000"));
        validate->add_option("--only", o.only, "run this one check (names in the README)")->type_name("CHECK");
        validate->add_option("--json", o.report, "also write the report as JSON to FILE, or only it to stdout (-)")
            ->type_name("FILE|-");
        validate->add_option("--run-check", o.runCheck)->group("");
        validate->add_flag("--direct", o.direct)->group("");

        CLI::App* scan = command("scan", "the registered MFX filters, their files and cached verdicts", Command::Scan);
        scan->add_flag("--json", o.json, "print them as JSON");

        CLI::App* forget = command("forget", "removes cached verdicts, so that the next load probes again", Command::Forget);
        forget->add_option("CLSID", o.clsid, "the filter whose verdict goes");
        forget->add_flag("--all", o.all, "every cached verdict");
    }

    std::string topHelp() const { return app_.help(); }
    // One command's help, or empty for an unknown command.
    std::string commandHelp(const std::string& name) const {
        for (const auto& c : commands_)
            if (c.first->get_name() == name) return c.first->help();
        return "";
    }
    std::string commandNames() const {
        std::string names;
        for (const CLI::App* c : app_.get_subcommands([](const CLI::App*) { return true; }))
            names += (names.empty() ? "" : ", ") + c->get_name();
        return names;
    }
    bool knows(const std::string& name) const {
        for (const auto& c : commands_)
            if (c.first->get_name() == name) return true;
        return false;
    }

    // False with a one-line reason.
    bool parse(const std::vector<std::string>& args, std::string& error) {
        std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes them last first
        try {
            app_.parse(reversed);
        } catch (const CLI::CallForHelp&) {
            o.command = Command::Help;
            o.helpText = app_.help();  // the chosen command's
            return true;
        } catch (const CLI::ArgumentMismatch& e) {
            std::string text = e.what();
            error = text.substr(0, text.find(':')) + " needs a value";
            return false;
        } catch (const CLI::ParseError& e) {
            error = oneLine(e);
            return false;
        }
        CLI::App* chosen = app_.get_subcommands().empty() ? nullptr : app_.get_subcommands().front();
        if (!chosen) {
            error = "no command given";
            return false;
        }
        o.command = commands_[chosen];
        const std::string& name = chosen->get_name();
        std::vector<std::string> extra = chosen->remaining();
        if (!extra.empty()) {
            bool option = extra[0].size() > 1 && extra[0][0] == '-';
            error = option ? "unknown option " + extra[0] + " for " + name
                           : "unexpected argument \"" + extra[0] + "\" for " + name;
            return false;
        }
        if (!loopText_.empty()) {
            parseLoop(loopText_, o.loopStart, o.loopLength, o.loopTimes, error);
            o.loop = true;
        }
        Duration d;
        if (!forText_.empty() && parseDuration(forText_, false, d, error, "--for")) o.liveFor = d.micros;
        if (!tailText_.empty()) o.tailSet = parseDuration(tailText_, true, o.tail, error, "--tail");
        return checkTogether(name, error);
    }

    Options o;

private:
    CLI::App* command(const char* name, const char* description, Command which) {
        CLI::App* sub = app_.add_subcommand(name, description);
        sub->allow_extras();  // refused below, in our own words
        sub->add_option("--module", o.modulePath, "load this copy of the module")->type_name("PATH");
        commands_[sub] = which;
        return sub;
    }

    void filterOption(CLI::App* sub, const char* description = "the filter, by name or CLSID") {
        sub->add_option("--filter", o.filter, description)->type_name("NAME|CLSID");
    }

    // What one option alone cannot say.
    bool checkTogether(const std::string& name, std::string& error) {
        switch (o.command) {
        case Command::Render:
            if (o.input.empty() || o.output.empty()) {
                error = "render wants IN.mid OUT.mid --filter NAME|CLSID";
                return false;
            }
            break;
        case Command::Live:
            if (words_.empty()) {
                error = "live wants --filter NAME|CLSID and MIDI bytes in hex, e.g. 90 3C 64";
                return false;
            }
            if (!parseTimedMessages(words_, o.messages, error)) return false;
            break;
        case Command::Forget:
            if (o.all == !o.clsid.empty()) {
                error = "forget wants one CLSID or --all";
                return false;
            }
            break;
        default:
            break;
        }
        bool needsFilter = o.command == Command::Render || o.command == Command::Live ||
                           o.command == Command::Editor || o.command == Command::Validate;
        if (needsFilter && o.filter.empty()) {
            error = name + " wants --filter NAME|CLSID";
            return false;
        }
        if (o.command == Command::Bench && o.filter.empty()) o.filter = "Transpose";
        return true;
    }

    CLI::App app_;
    std::map<CLI::App*, Command> commands_;
    std::string loopText_, forText_, tailText_;
    std::vector<std::string> words_;
};

}  // namespace

bool parseOptions(const std::vector<std::string>& args, Options& out, std::string& error) {
    CommandLine line;
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || (args[0] == "help" && args.size() == 1)) {
        Options o;
        o.helpText = line.topHelp();
        out = o;
        return true;
    }
    if (args[0] == "help") {
        std::string text = args.size() == 2 ? line.commandHelp(args[1]) : "";
        if (text.empty()) {
            error = "help wants one command: " + line.commandNames();
            return false;
        }
        Options o;
        o.helpText = text;
        out = o;
        return true;
    }
    if (!line.knows(args[0])) {
        error = "unknown command \"" + args[0] + "\" (try: " + line.commandNames() + ")";
        return false;
    }
    if (!line.parse(args, error)) return false;
    out = line.o;
    return true;
}
