// The catalogue as the registry holds it: every registered MFX filter, its server file,
// the verdict the module cached for it; and forgetting verdicts so that they are probed again.
#pragma once

#include <string>
#include <vector>

#include "Options.h"

struct ScannedFilter {
    std::string clsid;  // the subkey's name as registered
    std::string name;   // the CLSID key's default value
    std::string server; // InprocServer32, as registered ("" when none)
    bool serverExists = false;
    bool cached = false;  // a verdict value is there
    std::string verdict;  // its text as stored (for a value that is no text: what it is instead)
    std::string offered;  // "yes", "no", or "probed at the next load"
};

// Reads HKEY_LOCAL_MACHINE as the module's scan does. False with a reason when there is no
// filter key at all.
bool scanFilters(std::vector<ScannedFilter>& out, std::string& error);

int runScan(const Options& options);
int runForget(const Options& options);
