#include "Session.h"

#include <cstdio>

#include "host/UniqueId.h"
#include "interfaces/ComExtras.h"

Session::~Session() {
    close();
    if (host_) host_->Release();
}

void Session::close() {
    if (!module_) return;
    if (initialized_) module_->terminate();
    module_->Release();
    module_ = nullptr;
    initialized_ = false;
}

bool Session::open(const std::string& modulePath, const std::string& filter, std::string& error) {
    if (!loader_.load(modulePath, &error)) return false;
    const PluginClass* cls = loader_.find(filter);
    if (!cls) {
        error = "no filter \"" + filter + "\" in the module (palisander-host list shows the classes)";
        return false;
    }
    class_ = *cls;
    module_ = loader_.create(class_, &error);
    if (!module_) return false;
    host_ = new ReferenceHost();
    host_->events().setJournaling(false);
    if (module_->initialize(host_->context()) != S_OK) {
        error = "the filter \"" + class_.name + "\" refused to connect to the host";
        return false;
    }
    initialized_ = true;
    return true;
}

bool Session::getState(std::vector<uint8_t>& out, std::string& error) const {
    ComRef<IStatePersistence> state(query<IStatePersistence>(hostid::IStatePersistence));
    int32_t size = 0;
    if (!state || state->getState(nullptr, &size) != 0 || size < 0) {
        error = "the filter \"" + class_.name + "\" could not save its state";
        return false;
    }
    std::vector<uint8_t> bytes(size_t(size) + 1);  // never a zero-sized buffer
    int32_t capacity = size;
    if (state->getState(bytes.data(), &capacity) != 0 || capacity < 0 || capacity > size) {
        error = "the filter \"" + class_.name + "\" could not save its state";
        return false;
    }
    bytes.resize(size_t(capacity));
    out.swap(bytes);
    return true;
}

bool Session::setState(const std::vector<uint8_t>& bytes, std::string& error) const {
    ComRef<IStatePersistence> state(query<IStatePersistence>(hostid::IStatePersistence));
    if (!state) {
        error = "the filter \"" + class_.name + "\" keeps no state";
        return false;
    }
    if (bytes.empty() || state->setState(bytes.data(), int32_t(bytes.size())) != 0) {
        error = "the filter \"" + class_.name + "\" refused the state";
        return false;
    }
    return true;
}

bool readFileBytes(const std::string& path, std::vector<uint8_t>& out, std::string& error) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        error = "cannot open " + path;
        return false;
    }
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) {
        error = "cannot read " + path;
        return false;
    }
    out.swap(bytes);
    return true;
}

bool writeFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error) {
    std::string temp = path + ".part";
    FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) {
        error = "cannot write " + path;
        return false;
    }
    bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fclose(f) == 0 && ok;
    if (ok) ok = MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
    if (!ok) {
        DeleteFileA(temp.c_str());
        error = "cannot write " + path;
    }
    return ok;
}
