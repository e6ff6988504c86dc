// Fatal-signal hook and dump writer. Everything reached from the signal handler sticks
// to system calls that are safe there; the dump is written with plain write(2).
#include "platform/crash.h"

#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/fs.h"
#include "platform/syscalls.h"

namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
// Large enough for the filter's own work (listing, matching, formatting) after a stack overflow.
constexpr size_t kAltStackSize = 1u << 20;
// The filter is not limited to async-signal-safe calls; should it block on a lock the
// crash left taken, the process still ends (and its keeper starts it again).
constexpr unsigned kFilterTimeLimitSeconds = 60;

std::atomic<platform::CrashFilter> gFilter{nullptr};
std::atomic<long> gCrashingThread{0};

void restoreDefaults() {
    for (int sig : kFatalSignals) {
        struct sigaction action {};
        action.sa_handler = SIG_DFL;
        sigemptyset(&action.sa_mask);
        sigaction(sig, &action, nullptr);
    }
}

void onFatalSignal(int sig, siginfo_t* info, void* context) {
    long self = static_cast<long>(syscall(SYS_gettid));
    long expected = 0;
    if (!gCrashingThread.compare_exchange_strong(expected, self)) {
        if (expected == self) {
            // Crashed again inside the filter: no second try, just die.
            restoreDefaults();
            raise(sig);
            return;
        }
        // Another thread is writing the dump and will end the process.
        for (;;) pause();
    }
    platform::CrashInfo crash{sig, info ? info->si_code : 0, info ? info->si_addr : nullptr, context};
    alarm(kFilterTimeLimitSeconds);
    if (platform::CrashFilter filter = gFilter.load()) filter(&crash);
    restoreDefaults();
    // Pending until the handler returns, then the default action ends the process;
    // a fault would also recur on return, but a raised signal would not.
    raise(sig);
}

// --- writing without the allocator ---

struct Out {
    int fd;
    bool ok;
};

void put(Out* out, const char* text, size_t length) {
    while (out->ok && length > 0) {
        long written = platform::sysCalls().write(out->fd, text, length);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            out->ok = false;
            return;
        }
        text += written;
        length -= static_cast<size_t>(written);
    }
}

void put(Out* out, const char* text) { put(out, text, std::strlen(text)); }

void putUnsigned(Out* out, uint64_t value) {
    char digits[24];
    int at = sizeof digits;
    do {
        digits[--at] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    put(out, digits + at, sizeof digits - at);
}

void putSigned(Out* out, int64_t value) {
    if (value < 0) {
        put(out, "-");
        putUnsigned(out, static_cast<uint64_t>(-(value + 1)) + 1);
    } else {
        putUnsigned(out, static_cast<uint64_t>(value));
    }
}

void putHex(Out* out, uint64_t value) {
    char digits[18] = {'0', 'x'};
    static const char hex[] = "0123456789abcdef";
    for (int i = 0; i < 16; ++i) digits[2 + i] = hex[(value >> (60 - 4 * i)) & 0xf];
    put(out, digits, sizeof digits);
}

const char* signalName(int sig) {
    switch (sig) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGILL: return "SIGILL";
    case SIGFPE: return "SIGFPE";
    case SIGABRT: return "SIGABRT";
    default: return "SIG?";
    }
}

void putRegisters(Out* out, const void* context) {
    put(out, "[registers]\n");
    if (context == nullptr) return;
    const auto* uc = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
    static const char* const names[] = {"r8",  "r9",  "r10", "r11", "r12",    "r13", "r14", "r15",
                                        "rdi", "rsi", "rbp", "rbx", "rdx",    "rax", "rcx", "rsp",
                                        "rip", "eflags", "csgsfs", "err", "trapno", "oldmask", "cr2"};
    for (int i = 0; i < NGREG && i < static_cast<int>(sizeof names / sizeof names[0]); ++i) {
        put(out, names[i]);
        put(out, " ");
        putHex(out, static_cast<uint64_t>(uc->uc_mcontext.gregs[i]));
        put(out, "\n");
    }
#elif defined(__aarch64__)
    for (int i = 0; i < 31; ++i) {
        put(out, "x");
        putUnsigned(out, static_cast<uint64_t>(i));
        put(out, " ");
        putHex(out, uc->uc_mcontext.regs[i]);
        put(out, "\n");
    }
    put(out, "sp ");
    putHex(out, uc->uc_mcontext.sp);
    put(out, "\npc ");
    putHex(out, uc->uc_mcontext.pc);
    put(out, "\npstate ");
    putHex(out, uc->uc_mcontext.pstate);
    put(out, "\n");
#else
    (void)uc;
#endif
}

void putMemoryMap(Out* out) {
    put(out, "[maps]\n");
    int maps = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (maps < 0) return;
    char buffer[4096];
    for (;;) {
        ssize_t got = ::read(maps, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        put(out, buffer, static_cast<size_t>(got));
    }
    ::close(maps);
}

void putBacktrace(Out* out) {
    put(out, "[backtrace]\n");
    void* frames[128];
    int count = backtrace(frames, 128);
    if (count > 0 && out->ok) backtrace_symbols_fd(frames, count, out->fd);
}

}  // namespace

namespace platform {

bool crashModuleOpen(CrashModule* module, const char* path, int flags, std::string* error) {
    if (module == nullptr) return false;
    module->handle = nullptr;
    if (path == nullptr || *path == 0) {
        if (error) *error = "no path";
        return false;
    }
    int mode = flags != 0 ? flags : RTLD_NOW | RTLD_LOCAL;
    dlerror();
    // A program cannot be opened by its path; its own exports are reached through the null handle.
    if (executablePath() == path)
        module->handle = dlopen(nullptr, mode);
    else
        module->handle = sysCalls().dlopen(path, mode);
    if (module->handle == nullptr) {
        const char* text = dlerror();
        if (error) *error = text ? text : "dlopen failed";
        return false;
    }
    return true;
}

void* crashModuleSymbol(const CrashModule* module, const char* name, std::string* error) {
    if (module == nullptr || module->handle == nullptr || name == nullptr) {
        if (error) *error = "module not loaded";
        return nullptr;
    }
    dlerror();
    void* address = dlsym(module->handle, name);
    if (address == nullptr) {
        const char* text = dlerror();
        if (error) *error = text ? text : "symbol is null";
    }
    return address;
}

void crashModuleClose(CrashModule* module) {
    if (module == nullptr || module->handle == nullptr) return;
    dlclose(module->handle);
    module->handle = nullptr;
}

bool crashModuleLocation(std::string* folder, std::string* fileName, int* error) {
    std::string path = executablePath();
    size_t cut = path.rfind('/');
    if (path.empty() || cut == std::string::npos) {
        if (error) *error = ENOENT;
        return false;
    }
    if (folder) *folder = path.substr(0, cut);
    if (fileName) *fileName = path.substr(cut + 1);
    return true;
}

}  // namespace platform

extern "C" bool kestrovanSetCrashFilter(platform::CrashFilter filter) {
    // backtrace() loads the unwinder on first use; do that now, not inside a crash.
    void* warm[2];
    backtrace(warm, 2);

    static void* altStack = nullptr;
    if (altStack == nullptr) {
        altStack = std::malloc(kAltStackSize);
        if (altStack == nullptr) return false;
    }
    stack_t stack {};
    stack.ss_sp = altStack;
    stack.ss_size = kAltStackSize;
    if (sigaltstack(&stack, nullptr) != 0) return false;

    gFilter.store(filter);
    for (int sig : kFatalSignals) {
        struct sigaction action {};
        action.sa_sigaction = onFatalSignal;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&action.sa_mask);
        if (sigaction(sig, &action, nullptr) != 0) return false;
    }
    return true;
}

extern "C" bool kestrovanWriteCrashDump(const char* path, const platform::CrashInfo* info) {
    if (path == nullptr) return false;
    int fd = platform::sysCalls().open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    Out out{fd, true};
    put(&out, "KestrovanCrashDump 1\n");
    put(&out, "pid ");
    putUnsigned(&out, static_cast<uint64_t>(getpid()));
    put(&out, "\nthread ");
    putUnsigned(&out, static_cast<uint64_t>(syscall(SYS_gettid)));
    put(&out, "\ntime ");
    putSigned(&out, static_cast<int64_t>(time(nullptr)));
    put(&out, "\n");
    if (info != nullptr) {
        put(&out, "signal ");
        putSigned(&out, info->signal);
        put(&out, " ");
        put(&out, signalName(info->signal));
        put(&out, "\ncode ");
        putSigned(&out, info->code);
        put(&out, "\n");
        // Only a fault has an address; a signal sent by a process has none.
        if (info->code > 0) {
            put(&out, "address ");
            putHex(&out, reinterpret_cast<uintptr_t>(info->faultAddress));
            put(&out, "\n");
        }
        putRegisters(&out, info->context);
    } else {
        put(&out, "signal none\n");
    }
    putMemoryMap(&out);
    putBacktrace(&out);
    put(&out, "[end]\n");
    bool ok = out.ok;
    // Left open on purpose would leak a descriptor when called outside a crash.
    ::close(fd);
    return ok;
}
