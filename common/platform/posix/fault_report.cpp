#include "common/platform/fault_report.h"

#include <fcntl.h>
#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <memory>

#include "common/platform/diagnostics.h"
#include "common/platform/posix/write_all.h"

namespace tw::platform {

namespace {

// Everything below runs inside a signal handler: no allocation, no stdio, no locks.

class Writer {
public:
    Writer(char* out, std::size_t capacity) : out_(out), capacity_(capacity) {}
    void text(const char* s) {
        while (s && *s) put(*s++);
    }
    void number(std::uint64_t v) {
        char digits[20];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v);
        while (n) put(digits[--n]);
    }
    std::size_t size() const { return size_; }
    void terminate() {
        if (size_ < capacity_) out_[size_] = '\0';
    }

private:
    void put(char c) {
        if (size_ < capacity_) out_[size_++] = c;
    }
    char* out_;
    std::size_t capacity_;
    std::size_t size_ = 0;
};

const char* baseName(const char* path) {
    const char* base = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\') base = p + 1;
    return base;
}

void writeAll(int fd, const char* data, std::size_t size) { (void)posix::writeAll(fd, data, size); }

struct Fault {
    std::uint32_t code;
    const char* description;
};

Fault describe(int sig, int code) {
    switch (sig) {
        case SIGSEGV:
        case SIGBUS:
            return {0xC0000005u, "Access violation"};
        case SIGILL:
            return {0xC000001Du, "Illegal instruction"};
        case SIGABRT:
            return {0x40000015u, "Abnormal program termination"};
        case SIGFPE:
            switch (code) {
                case FPE_INTOVF:
                    return {0xC0000095u, "Integer overflow"};
                case FPE_FLTDIV:
                    return {0xC000008Eu, "Floating-point division by zero"};
                case FPE_FLTOVF:
                    return {0xC0000091u, "Floating-point overflow"};
                case FPE_FLTUND:
                    return {0xC0000093u, "Floating-point underflow"};
                case FPE_FLTRES:
                    return {0xC000008Fu, "Floating-point inexact result"};
                case FPE_FLTINV:
                    return {0xC0000090u, "Floating-point invalid operation"};
                default:
                    return {0xC0000094u, "Integer division by zero"};
            }
        default:
            return {0xC0000005u, "Access violation"};
    }
}

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr std::size_t kStackSize = 64 * 1024;

std::atomic_flag reporting = ATOMIC_FLAG_INIT;
char reportBuffer[4096];

void onFault(int sig, siginfo_t* info, void* context) {
    // Faults of several threads at once: the first writes the report and ends the process.
    if (reporting.test_and_set()) {
        for (;;) ::pause();
    }

    FaultInfo fault;
    const Fault f = describe(sig, info ? info->si_code : 0);
    fault.description = f.description;
    fault.code = f.code;
    if (info && (sig == SIGSEGV || sig == SIGBUS))
        fault.targetAddress = reinterpret_cast<std::uintptr_t>(info->si_addr);
#if defined(__x86_64__)
    if (context) {
        const auto* uc = static_cast<const ucontext_t*>(context);
        const greg_t* r = uc->uc_mcontext.gregs;
        fault.codeAddress = static_cast<std::uintptr_t>(r[REG_RIP]);
        const int order[8] = {REG_RAX, REG_RBX, REG_RCX, REG_RDX,
                              REG_RBP, REG_RSI, REG_RDI, REG_RSP};
        for (int i = 0; i < 8; ++i) fault.regs[i] = static_cast<std::uint64_t>(r[order[i]]);
    }
#else
    (void)context;
    if (info && sig != SIGABRT) fault.codeAddress = reinterpret_cast<std::uintptr_t>(info->si_addr);
#endif

    const std::size_t len = formatFaultReport(fault, reportBuffer, sizeof reportBuffer);
    // Standard error stands in for the "Error!" box, written as every box is.
    writeAll(2, "Error!: ", 8);
    writeAll(2, reportBuffer, len);
    writeAll(2, "\n", 1);

    if (diag::debugEnabled()) {
        const int fd =
            ::open(diag::debugLogFile(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd >= 0) {
            // The log's own line end is CR LF: each report line becomes one log line.
            std::size_t start = 0;
            for (std::size_t i = 0; i < len; ++i) {
                if (reportBuffer[i] != '\r') continue;
                writeAll(fd, reportBuffer + start, i - start);
                writeAll(fd, "\r\n", 2);
                start = i + 1;
            }
            if (start < len) {
                writeAll(fd, reportBuffer + start, len - start);
                writeAll(fd, "\r\n", 2);
            }
            ::close(fd);
        }
    }
    ::_exit(1);
}

// The main thread's alternate stack, so that a stack overflow still gets its report.
alignas(16) char mainStack[kStackSize];

struct ThreadStack {
    std::unique_ptr<char[]> memory;
    ~ThreadStack() {
        if (!memory) return;
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        ::sigaltstack(&off, nullptr);
    }
};

void useAltStack(char* memory) {
    stack_t ss{};
    ss.ss_sp = memory;
    ss.ss_size = kStackSize;
    ss.ss_flags = 0;
    ::sigaltstack(&ss, nullptr);
}

}  // namespace

std::size_t formatFaultReport(const FaultInfo& info, char* out, std::size_t capacity) {
    Writer w(out, capacity);
    w.text("A program error was detected:\r\r");
    w.text("Error Message:   ");
    w.text(info.description);
    w.text("\rError Code:      ");
    w.number(info.code);
    w.text("\rCode Address:    ");
    w.number(info.codeAddress);
    w.text("\r");
    if (info.code == 0xC0000005u) {
        w.text("Target Address:  ");
        w.number(info.targetAddress);
        w.text("\r");
    }
    if (info.sourceLine >= 0) {
        w.text("Sourcecode line: ");
        w.number(static_cast<std::uint64_t>(info.sourceLine));
        w.text("\rSourcecode file: ");
        w.text(info.sourceFile ? baseName(info.sourceFile) : "");
        w.text("\r");
    }
    w.text("\rRegister content:\r");
    static constexpr const char* kLabels[8] = {
        "EAX = ", "EBX = ", "ECX = ", "EDX = ", "EBP = ", "ESI = ", "EDI = ", "ESP = "};
    for (int i = 0; i < 8; ++i) {
        w.text(kLabels[i]);
        w.number(info.regs[i]);
        w.text("\r");
    }
    w.terminate();
    return w.size();
}

void prepareFaultStackForThread() {
    thread_local ThreadStack stack;
    if (stack.memory) return;
    stack.memory.reset(new char[kStackSize]);
    useAltStack(stack.memory.get());
}

void installFaultReport() {
    static std::atomic_flag installed = ATOMIC_FLAG_INIT;
    if (installed.test_and_set()) return;
    useAltStack(mainStack);
    struct sigaction sa {};
    sa.sa_sigaction = onFault;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    for (const int s : kSignals) sigaddset(&sa.sa_mask, s);
    for (const int s : kSignals) ::sigaction(s, &sa, nullptr);
}

}  // namespace tw::platform
