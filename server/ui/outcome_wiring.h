#pragma once
// What the window does with the outcome of a mailing: the counts in the status bar, the
// follow-up ticks, the tree filter and the history window. Kept out of the start-up code so
// that tests drive the same connections as the program.
namespace tw::server {
class ServerEngine;
}

namespace tw::ui {

class ClientTreeView;
class MainWindow;

void connectOutcome(MainWindow& window, ClientTreeView& tree, tw::server::ServerEngine& engine);

}  // namespace tw::ui
