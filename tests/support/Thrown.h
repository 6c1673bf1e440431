#pragma once
#include <functional>
#include <string>

// The text of the Error that run throws; empty when it throws nothing or something else.
template <typename Error>
std::string thrownText(const std::function<void()>& run) {
    try {
        run();
    } catch (const Error& error) {
        return error.what();
    } catch (...) {
    }
    return {};
}
