#include "common/platform/fault_report.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/platform/helper.h"

using tw::platform::FaultInfo;
using tw::platform::formatFaultReport;

namespace {

std::string format(const FaultInfo& info) {
    char buf[2048];
    const std::size_t n = formatFaultReport(info, buf, sizeof buf);
    return std::string(buf, n);
}

FaultInfo sample() {
    FaultInfo f;
    f.regs[0] = 1;
    f.regs[1] = 2;
    f.regs[2] = 3;
    f.regs[3] = 4;
    f.regs[4] = 5;
    f.regs[5] = 6;
    f.regs[6] = 7;
    f.regs[7] = 18446744073709551615ull;
    return f;
}

const char* const kRegisters =
    "\rRegister content:\r"
    "EAX = 1\rEBX = 2\rECX = 3\rEDX = 4\rEBP = 5\rESI = 6\rEDI = 7\rESP = 18446744073709551615\r";

}  // namespace

TEST(FaultReportFormat, accessViolation_withSourcePosition) {
    FaultInfo f = sample();
    f.description = "Access violation";
    f.code = 0xC0000005;
    f.codeAddress = 4198400;
    f.targetAddress = 0;
    f.sourceLine = 42;
    f.sourceFile = "/home/build/server/ui/main_window.cpp";
    EXPECT_EQ(format(f), std::string("A program error was detected:\r\r"
                                     "Error Message:   Access violation\r"
                                     "Error Code:      3221225477\r"
                                     "Code Address:    4198400\r"
                                     "Target Address:  0\r"
                                     "Sourcecode line: 42\r"
                                     "Sourcecode file: main_window.cpp\r") +
                             kRegisters);
}

TEST(FaultReportFormat, otherFault_withoutTargetOrSourceLines) {
    FaultInfo f = sample();
    f.description = "Integer division by zero";
    f.code = 0xC0000094;
    f.codeAddress = 123;
    f.targetAddress = 999;  // meaningless for this fault and not shown
    EXPECT_EQ(format(f), std::string("A program error was detected:\r\r"
                                     "Error Message:   Integer division by zero\r"
                                     "Error Code:      3221225620\r"
                                     "Code Address:    123\r") +
                             kRegisters);
}

TEST(FaultReportFormat, smallBuffer_isCutNeverOverrun) {
    char buf[40];
    std::memset(buf, '#', sizeof buf);
    const std::size_t n = formatFaultReport(sample(), buf, 32);
    EXPECT_EQ(n, 32u);
    EXPECT_EQ(std::string(buf, n),
              std::string("A program error was detected:\r\rError Message:   ").substr(0, 32));
    EXPECT_EQ(std::string(buf + 32, 8), "########");
}

TEST(FaultReportProcess, fatalSignals_reportOnStderrAndDebugLog_exitCode1) {
    struct Case {
        const char* mode;
        const char* message;
        const char* code;
        bool target;
    } cases[] = {
        {"crash-segv", "Access violation", "3221225477", true},
        {"crash-thread-fpe", "Integer division by zero", "3221225620", false},
        {"crash-ill", "Illegal instruction", "3221225501", false},
        {"crash-abort", "Abnormal program termination", "1073741845", false},
        {"crash-overflow", "Access violation", "3221225477", true},
        {"crash-thread-overflow", "Access violation", "3221225477", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        tw::test::TempDir dir;
        const auto r = tw::test::run(tw::test::helperPath(),
                                     tw::test::helperOptions(c.mode, {"--debug"}, dir.path()));
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.err.rfind("Error!: A program error was detected:\r\rError Message:   ", 0), 0u)
            << r.err;
        EXPECT_NE(r.err.find(std::string("Error Message:   ") + c.message +
                             "\rError Code:      " + c.code + "\r"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(r.err.find("Target Address:  ") != std::string::npos, c.target);
        if (std::strcmp(c.mode, "crash-segv") == 0) {
            EXPECT_NE(r.err.find("Target Address:  16\r"), std::string::npos);
        }
        const auto regs = r.err.find("\r\rRegister content:\rEAX = ");
        ASSERT_NE(regs, std::string::npos);
        std::size_t at = regs;
        for (const char* label :
             {"EBX = ", "ECX = ", "EDX = ", "EBP = ", "ESI = ", "EDI = ", "ESP = "}) {
            at = r.err.find(std::string("\r") + label, at);
            ASSERT_NE(at, std::string::npos) << label;
        }
        EXPECT_EQ(r.err.substr(r.err.size() - 2), "\r\n");
        EXPECT_EQ(r.err.find("ESP = 0\r"), std::string::npos);

        const std::string log = tw::test::readFile(dir / "debug_server.log");
        EXPECT_EQ(log.rfind("A program error was detected:\r\n\r\nError Message:   ", 0), 0u)
            << log;
        EXPECT_NE(log.find(std::string("Error Code:      ") + c.code + "\r\n"), std::string::npos);
    }
}

TEST(FaultReportProcess, withoutDebugSwitch_noLogFile) {
    tw::test::TempDir dir;
    const auto r = tw::test::run(tw::test::helperPath(),
                                 tw::test::helperOptions("crash-segv", {}, dir.path()));
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("Access violation"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir / "debug_server.log"));
}
