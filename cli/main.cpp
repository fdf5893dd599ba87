#include <cstdio>
#include <iostream>

#include "cli/cli.h"
#include "common/net.h"
#include "common/net_async.h"
#include "common/platform/console.h"
#include "common/platform/descriptors.h"
#include "common/platform/host_names.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const std::string sender = tw::platform::netbiosName();
    // The window title is an escape sequence: only a terminal understands it, a file or pipe
    // would just collect it.
    if (tw::platform::standardOutputIsTerminal()) std::cout << "\033]0;Tellwick\007" << std::flush;
    // Over UDP one socket serves the whole list; over TCP every address gets its own
    // connection with the connect time-out, many of them under way at once, so switched-off
    // workstations cost one time-out together instead of one each.
    tw::net::UdpSender udp;
    const auto sendAll = [&udp](const std::vector<std::string>& hosts, int port, tw::Transport mode,
                                tw::cli::Outgoing& bytes,
                                const std::function<void(std::size_t)>& started) {
        if (mode == tw::Transport::Tcp) {
            // Each attempt keeps its own copy of the block, so a signed one can differ per host.
            tw::net::TcpFanOut fan(tw::platform::connectionAttemptLimit());
            for (std::size_t i = 0; i < hosts.size(); ++i) {
                while (fan.full()) fan.wait();
                started(i);
                fan.start(i, hosts[i], port, bytes.next());
                fan.poll();
            }
            while (fan.inFlight() != 0) fan.wait();
            return;
        }
        for (std::size_t i = 0; i < hosts.size(); ++i) {
            started(i);
            udp.sendTo(hosts[i], port, bytes.next());
        }
    };
    return tw::cli::run(args, std::cout, tw::cli::SendAllFunction(sendAll), sender);
}
