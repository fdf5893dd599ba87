#include <cstdio>
int main() {
    std::puts("tellwick_client: not built yet");
    return 0;
}
