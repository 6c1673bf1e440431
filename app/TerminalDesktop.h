#pragma once
#include "app/Desktop.h"

#include <cstdio>
#include <string>

// Dialogs asked on the terminal, for the service without windows: the alert prints its texts and
// numbered buttons and reads one line. A number picks that button, an empty line the first, the
// end of the input (or an interruption) the last.
class TerminalDesktop : public Desktop {
public:
    // input is read line by line; the alert gives up as soon as interrupt becomes readable.
    TerminalDesktop(int input, std::FILE* output, int interrupt = -1);

    void activate() override {}
    size_t alert(const Alert& alert) override;

private:
    enum class Line { read, ended };
    Line readLine(std::string& line);

    int input;
    std::FILE* output;
    int interrupt;
    std::string pending; // bytes read past the last line
};
