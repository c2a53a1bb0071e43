// Stands for a program of ours that runs and has no window (onyx.exe), for the
// installer's check: says "running", then waits until its input ends.

#include <cstdio>

int main() {
    std::puts("running");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    return 0;
}
