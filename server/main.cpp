#include "server/ui/server_main.h"

int main(int argc, char** argv) { return tw::ui::runServer(argc, argv); }
