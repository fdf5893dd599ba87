#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "cli/cli.h"
#include "common/net.h"
#include "common/platform/host_names.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const std::string sender = tw::platform::netbiosName();
    // The window title is an escape sequence: only a terminal understands it, a file or pipe
    // would just collect it.
    if (isatty(STDOUT_FILENO)) std::cout << "\033]0;Tellwick\007" << std::flush;
    // Over UDP one socket serves the whole list; over TCP every address gets its own
    // connection with the connect time-out.
    tw::net::UdpSender udp;
    const auto send = [&udp](const std::string& host, int port, tw::Transport mode,
                             std::span<const std::uint8_t> bytes) {
        if (mode == tw::Transport::Udp)
            udp.sendTo(host, port, bytes);
        else
            tw::net::sendBlock(host, port, mode, bytes);
    };
    return tw::cli::run(args, std::cout, send, sender);
}
