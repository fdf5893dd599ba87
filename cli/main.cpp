#include <cstdio>
int main() {
    std::puts("tellwick_cli: not built yet");
    return 0;
}
