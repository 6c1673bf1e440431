// A service that makes one dropped master and stops dead when the making reaches a step:
// jobs-crash-child STEP LIBRARY STORE MASTER. It says "reached" and waits to be killed.
#include "TrelkCore/Jobs/Jobs.h"

#include "tests/Jobs/JobsTesting.h"

#include <unistd.h>

#include <iostream>

int main(int argc, char** argv) {
    if (argc != 5) return 2;
    const std::string step = argv[1];
    TestEngine engine;
    Jobs::Senses senses;
    senses.reached = [&](std::string_view reached) {
        if (reached != step) return;
        std::cout << "reached" << std::endl;
        while (true) pause();
    };
    Jobs jobs(argv[2], engine, std::filesystem::path(argv[3]), senses);
    jobs.add(argv[4], true);
    while (true) pause();
}
