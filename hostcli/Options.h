// The command line of palisander-host: commands, their options, and the small
// text formats they take (loop ranges, hex MIDI bytes).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "TimedInput.h"

enum class Command { Help, List, Render, Live, Editor, Bench, Validate, Scan, Forget };

struct Options {
    Command command = Command::Help;
    std::string helpText;    // Help: what to print (the whole program's or one command's)
    std::string modulePath;  // --module: empty means palisander.dll beside the program
    std::string filter;      // --filter NAME|CLSID
    // list, scan
    bool json = false;
    // render
    std::string input, output;
    int32_t block = 0;  // ticks; 0: a 16th note of the file's division
    std::string stateIn, stateOut;
    bool loop = false;
    int32_t loopStart = 0, loopLength = 0, loopTimes = 2;
    bool tailSet = false;  // --tail; without it the render plays on until quiet
    Duration tail;
    // live
    std::vector<TimedMessage> messages;
    int64_t liveFor = -1;  // --for in microseconds; -1: until quiet
    // editor
    std::string screenshot;
    // bench
    int32_t events = 1000000;
    // validate
    int32_t level = 5;          // checks of this level and below
    uint32_t seed = 1;
    int32_t repeat = 1;         // rounds of each check, seeds counting up
    int32_t timeoutMs = 60000;  // per check process
    int32_t stressEvents = 1000000;
    std::string only;           // one check by name, whatever the level
    std::string report;         // --json FILE, or "-" for stdout
    std::string runCheck;       // one check in this process (how the validator runs its children)
    bool direct = false;        // ... on the filter without the module, to name the failing call
    // forget
    std::string clsid;
    bool all = false;
};

// False with a one-line reason in error. "--help" after a command, "help [COMMAND]" or no
// arguments at all give Command::Help with the text to print.
bool parseOptions(const std::vector<std::string>& args, Options& out, std::string& error);

// "START:LENGTH" or "START:LENGTH:TIMES"; START >= 0, LENGTH >= 1, TIMES >= 1.
bool parseLoop(const std::string& text, int32_t& start, int32_t& length, int32_t& times, std::string& error);

// Hex bytes, one per argument ("90 3C 64") or several run together ("903C64").
bool parseHexBytes(const std::vector<std::string>& args, std::vector<uint8_t>& out, std::string& error);

// One MIDI message of a byte string: status with its data bytes (running status resolved).
struct MidiMessage {
    uint8_t status = 0;
    uint8_t data1 = 0, data2 = 0;
};
// Channel messages only: sysex and system bytes are refused with a reason.
bool splitMessages(const std::vector<uint8_t>& bytes, std::vector<MidiMessage>& out, std::string& error);
int dataByteCount(uint8_t status);
