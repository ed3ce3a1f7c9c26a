#include "Options.h"

#include <cerrno>
#include <cstdlib>

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

bool commandFromName(const std::string& name, Command& out) {
    static const struct {
        const char* name;
        Command command;
    } table[] = {{"list", Command::List},     {"render", Command::Render}, {"live", Command::Live},
                 {"editor", Command::Editor}, {"bench", Command::Bench},   {"help", Command::Help},
                 {"--help", Command::Help},   {"-h", Command::Help}};
    for (const auto& row : table)
        if (name == row.name) {
            out = row.command;
            return true;
        }
    return false;
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

bool parseOptions(const std::vector<std::string>& args, Options& out, std::string& error) {
    Options o;
    if (args.empty()) {
        out = o;
        return true;
    }
    if (!commandFromName(args[0], o.command)) {
        error = "unknown command \"" + args[0] + "\" (try: list, render, live, editor, bench)";
        return false;
    }
    std::vector<std::string> positional;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= args.size()) {
                error = a + " needs a value";
                return false;
            }
            into = args[++i];
            return true;
        };
        std::string v;
        bool isRender = o.command == Command::Render;
        if (a == "--module") {
            if (!value(o.modulePath)) return false;
        } else if (a == "--filter" && o.command != Command::List) {
            if (!value(o.filter)) return false;
        } else if (a == "--json" && o.command == Command::List) {
            o.json = true;
        } else if (a == "--block" && isRender) {
            if (!value(v)) return false;
            if (!parseInt(v, 1, 1 << 24, o.block)) {
                error = "--block wants a number of ticks from 1 up, not \"" + v + "\"";
                return false;
            }
        } else if (a == "--state" && isRender) {
            if (!value(o.stateIn)) return false;
        } else if (a == "--save-state" && isRender) {
            if (!value(o.stateOut)) return false;
        } else if (a == "--loop" && isRender) {
            if (!value(v) || !parseLoop(v, o.loopStart, o.loopLength, o.loopTimes, error)) return false;
            o.loop = true;
        } else if (a == "--screenshot" && o.command == Command::Editor) {
            if (!value(o.screenshot)) return false;
        } else if (a == "--events" && o.command == Command::Bench) {
            if (!value(v)) return false;
            if (!parseInt(v, 1, 100000000, o.events)) {
                error = "--events wants a count from 1 to 100000000, not \"" + v + "\"";
                return false;
            }
        } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
            error = "unknown option " + a + " for " + args[0];
            return false;
        } else {
            positional.push_back(a);
        }
    }
    switch (o.command) {
    case Command::Render:
        if (positional.size() != 2) {
            error = "render wants IN.mid OUT.mid --filter NAME|CLSID";
            return false;
        }
        o.input = positional[0];
        o.output = positional[1];
        break;
    case Command::Live:
        if (positional.empty()) {
            error = "live wants --filter NAME|CLSID and MIDI bytes in hex, e.g. 90 3C 64";
            return false;
        }
        if (!parseTimedMessages(positional, o.messages, error)) return false;
        break;
    default:
        if (!positional.empty()) {
            error = "unexpected argument \"" + positional[0] + "\" for " + args[0];
            return false;
        }
    }
    bool needsFilter = o.command == Command::Render || o.command == Command::Live || o.command == Command::Editor;
    if (needsFilter && o.filter.empty()) {
        error = args[0] + " wants --filter NAME|CLSID";
        return false;
    }
    if (o.command == Command::Bench && o.filter.empty()) o.filter = "Transpose";
    out = o;
    return true;
}

const char* usageText() {
    return "usage: palisander-host COMMAND [options]\n"
           "  list [--json]                         the module's plug-in classes\n"
           "  render IN.mid OUT.mid --filter NAME|CLSID [--block TICKS] [--state FILE]\n"
           "         [--save-state FILE] [--loop START:LENGTH[:TIMES]]\n"
           "                                        plays IN.mid through a filter into OUT.mid\n"
           "  live --filter NAME|CLSID BYTES...     sends hex MIDI bytes through the live path\n"
           "  editor --filter NAME|CLSID [--screenshot FILE.png]\n"
           "                                        opens the filter's editor in a host window\n"
           "  bench [--filter NAME|CLSID] [--events N]\n"
           "                                        measures the module against the bare filter\n"
           "every command takes --module PATH (default: palisander.dll beside the program)\n";
}
