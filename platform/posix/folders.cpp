#include "platform/folders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/fs.h"
#include "platform/names.h"

namespace platform {

namespace {

std::string envText(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? std::string(value) : std::string();
}

std::string stripTrailingSeparators(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

bool isWritableFolder(const std::string& path) {
    return pathKind(path.c_str()) == PathKind::Folder && access(path.c_str(), W_OK) == 0;
}

std::string homeFromAccount() {
    std::string home = envText("HOME");
    if (!home.empty()) return home;
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return {};
}

// A private folder of ours: it must be ours and closed to others, or someone could
// pre-create it and watch or hijack our named objects.
bool ensurePrivateFolder(const std::string& path) {
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) return false;
    if ((st.st_mode & 077) != 0 && chmod(path.c_str(), 0700) != 0) return false;
    return true;
}

std::string unsandboxedFolder(KnownFolder folder) {
    switch (folder) {
    case KnownFolder::CommonAppData: {
        if (isWritableFolder("/var/lib")) return "/var/lib";
        std::string state = envText("XDG_STATE_HOME");
        if (state.empty()) {
            std::string home = homeFromAccount();
            if (home.empty()) return {};
            state = home + "/.local/state";
        }
        return state;
    }
    case KnownFolder::Windows:
        return "/etc";
    case KnownFolder::System:
        if (pathKind("/usr/lib/x86_64-linux-gnu") == PathKind::Folder) return "/usr/lib/x86_64-linux-gnu";
        return "/usr/lib";
    case KnownFolder::UserTemp: {
        std::string tmp = envText("TMPDIR");
        return tmp.empty() ? std::string("/tmp") : tmp;
    }
    case KnownFolder::Desktop: {
        std::string desktop = envText("XDG_DESKTOP_DIR");
        if (!desktop.empty()) return desktop;
        std::string home = homeFromAccount();
        return home.empty() ? std::string() : home + "/Desktop";
    }
    case KnownFolder::Home:
        return homeFromAccount();
    case KnownFolder::DriveTmp:
        return "/tmp";
    case KnownFolder::Runtime: {
        std::string runtime = envText("XDG_RUNTIME_DIR");
        if (!runtime.empty()) return runtime + "/kestrovan";
        std::string own = "/tmp/kestrovan-" + std::to_string(geteuid());
        return ensurePrivateFolder(own) ? own : std::string();
    }
    }
    return {};
}

std::string sandboxedFolder(const std::string& root, KnownFolder folder) {
    std::string user = root + "/Users/" + objectFileName(userName().c_str());
    switch (folder) {
    case KnownFolder::CommonAppData: return root + "/ProgramData";
    case KnownFolder::Windows: return root + "/Windows";
    case KnownFolder::System: return root + "/System";
    case KnownFolder::UserTemp: return user + "/Temp";
    case KnownFolder::Desktop: return user + "/Desktop";
    case KnownFolder::Home: return user;
    case KnownFolder::DriveTmp: return root + "/tmp";
    case KnownFolder::Runtime: return root + "/run";
    }
    return {};
}

}  // namespace

std::string sandboxRoot() { return stripTrailingSeparators(envText("TARVIK_ROOT")); }

std::string userName() {
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_name &&
        *found->pw_name)
        return found->pw_name;
    std::string user = envText("USER");
    return user.empty() ? std::to_string(geteuid()) : user;
}

std::string knownFolder(KnownFolder folder) {
    std::string root = sandboxRoot();
    std::string path = stripTrailingSeparators(root.empty() ? unsandboxedFolder(folder)
                                                            : sandboxedFolder(root, folder));
    if (path.empty()) return {};
    if (folder == KnownFolder::DriveTmp) return path;
    if (pathKind(path.c_str()) != PathKind::Folder && !makeFolders(path.c_str())) return {};
    return path;
}

std::string objectFolder(const char* kind, bool global) {
    std::string base;
    if (global) {
        std::string root = sandboxRoot();
        if (root.empty()) {
            // Shared by every user of the machine: sticky and world-writable like /tmp.
            base = "/tmp/kestrovan-global";
            if (mkdir(base.c_str(), 01777) == 0) chmod(base.c_str(), 01777);
            if (pathKind(base.c_str()) != PathKind::Folder) return {};
            std::string folder = base + "/" + kind;
            if (mkdir(folder.c_str(), 01777) == 0) chmod(folder.c_str(), 01777);
            return pathKind(folder.c_str()) == PathKind::Folder ? folder : std::string();
        }
        base = knownFolder(KnownFolder::Runtime);
        if (base.empty()) return {};
        base += "/Global";
    } else {
        base = knownFolder(KnownFolder::Runtime);
        if (base.empty()) return {};
    }
    std::string folder = base + "/" + kind;
    if (pathKind(folder.c_str()) != PathKind::Folder && !makeFolders(folder.c_str())) return {};
    return folder;
}

}  // namespace platform
