#include "TrelkCore/Platform/ErrorText.h"

#include "TrelkCore/Platform/Files.h"
#include "TrelkCore/Platform/Text.h"

ErrorText::ErrorText(int fd) : reader([this, fd] { collect(fd); }) {}

ErrorText::~ErrorText() { finish(); }

void ErrorText::finish() {
    if (reader.joinable()) reader.join();
}

void ErrorText::collect(int fd) {
    char piece[4096];
    while (true) {
        ssize_t count = Files::readSome(fd, piece, sizeof piece);
        if (count <= 0) return;
        std::lock_guard guard(lock);
        if (text.size() < kept) text.append(piece, size_t(count));
    }
}

std::string ErrorText::lastLine() const {
    std::string all;
    {
        std::lock_guard guard(lock);
        all = text;
    }
    std::vector<std::string_view> lines = Text::split(all, '\n');
    return lines.empty() ? std::string() : Text::repairedUTF8(lines.back());
}
