#pragma once
// The server's program error report for fatal signals.
#include <cstddef>
#include <cstdint>

namespace tw::platform {

struct FaultInfo {
    const char* description = "";       // "Access violation", ...
    std::uint32_t code = 0;             // Windows exception code, e.g. 0xC0000005
    std::uintptr_t codeAddress = 0;
    std::uintptr_t targetAddress = 0;   // shown only for 0xC0000005
    int sourceLine = -1;                // -1: unknown
    const char* sourceFile = nullptr;   // name without directory, or null
    std::uint64_t regs[8] = {};         // EAX EBX ECX EDX EBP ESI EDI ESP (shown from RAX..RSP)
};

// Formats the report into `out` (async-signal-safe, no allocation); returns its length.
std::size_t formatFaultReport(const FaultInfo& info, char* out, std::size_t capacity);

// Installs the handler for SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT on every thread; it writes
// the report to standard error and the debug log, then exits with code 1.
void installFaultReport();

// Gives the calling thread an alternate signal stack of its own, so that a stack overflow on
// that thread still gets its report (the handler itself covers every thread without it).
void prepareFaultStackForThread();

}  // namespace tw::platform
