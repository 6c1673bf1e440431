// A service that makes dropped masters and stops dead when the making reaches a step:
// jobs-crash-child STEP[#N] LIBRARY STORE MASTER... With #N it stops there the N-th time; several
// masters are dropped together, as the watch drops them. It says "reached" and waits to be killed.
#include "TrelkCore/Jobs/Jobs.h"

#include "tests/Jobs/JobsTesting.h"

#include <unistd.h>

#include <iostream>

int main(int argc, char** argv) {
    if (argc < 5) return 2;
    std::string step = argv[1];
    int times = 1;
    if (size_t mark = step.find('#'); mark != std::string::npos) {
        times = std::stoi(step.substr(mark + 1));
        step.resize(mark);
    }
    TestEngine engine;
    Jobs::Senses senses;
    senses.reached = [&](std::string_view reached) {
        if (reached != step || --times > 0) return;
        std::cout << "reached" << std::endl;
        while (true) pause();
    };
    Jobs jobs(argv[2], engine, std::filesystem::path(argv[3]), senses);
    std::vector<std::filesystem::path> masters(argv + 4, argv + argc);
    jobs.addAll(masters, Origin::dropped, Grouping::byName);
    while (true) pause();
}
