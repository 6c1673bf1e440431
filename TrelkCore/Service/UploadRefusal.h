#pragma once
#include <exception>
#include <string>

// Why an upload is refused or failed, with the HTTP status its reply carries.
struct UploadRefusal : std::exception {
    int status;
    std::string message;

    UploadRefusal(int status, std::string message) : status(status), message(std::move(message)) {}
    const char* what() const noexcept override { return message.c_str(); }
    bool operator==(const UploadRefusal& other) const { return status == other.status && message == other.message; }
};
