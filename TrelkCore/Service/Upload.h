#pragma once
#include "TrelkCore/Platform/Files.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// One file on its way from a page into "Drop here": a hidden temporary file written piece by
// piece as the body arrives. Used by one thread at a time.
class Upload {
public:
    // How many of the first bytes the type check reads.
    static constexpr size_t startLength = 12;

    Upload(std::string id, std::string name, int64_t bytes, std::optional<std::string> set, int of,
           std::filesystem::path temp);

    // Creates "Drop here" again if it went, and the temporary file: disk work, done on the disk
    // queue before the first piece. Throws UploadRefusal.
    void open();
    // Appends a piece; throws UploadRefusal.
    void write(std::string_view piece);
    bool complete() const { return received == bytes; }

    const std::string id;
    const std::string name; // cleaned
    const int64_t bytes;    // announced
    const std::optional<std::string> set;
    const int of;
    std::optional<std::string> origin;
    std::string page; // the token of the page that sent it: its batch is that page's alone
    int64_t received = 0;
    const std::filesystem::path temp;
    Files::Descriptor handle; // open from open() until finished or aborted
    bool created = false;     // the temporary file is ours to remove
    std::string start;        // the first bytes, up to startLength
    int64_t pieces = 0;
};
