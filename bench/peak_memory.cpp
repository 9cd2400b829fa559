// Runs a command and writes its peak resident memory in KiB to file descriptor 3.
// The benchmark's own process is large; a child spawned from it straight away would count
// the benchmark's memory as its own until its exec, so it is spawned from this small one.

#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (child < 0 || wait4(child, &status, 0, &usage) < 0)
        return 1;
    dprintf(3, "%ld\n", usage.ru_maxrss);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
