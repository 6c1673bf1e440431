#include "TrelkCore/UpdateFeed.h"

#include <gtest/gtest.h>

TEST(UpdateFeed, DecodesOnlyAStringVersionAndAnHTTPSAddress) {
    const std::pair<std::string, bool> cases[] = {
        {R"({"version":"1.5","url":"https://vorlane.app/dl/trelk.deb","notes":"Faster.","size":9})", true},
        {R"({"version":"beta","url":"HTTPS://vorlane.app:8443?get=trelk"})", true},
        {R"({"version":"1.5","url":"https://vorlane.app","notes":7})", true}, // the notes are never shown
        {R"({"version":"1.5"})", false},
        {R"({"url":"https://vorlane.app/"})", false},
        {R"({"version":1.5,"url":"https://vorlane.app/"})", false},
        {R"({"version":"1.5","url":["https://vorlane.app/"]})", false},
        {R"({"version":"1.5","url":null})", false},
        {R"({"version":"1.5","url":"http://vorlane.app/"})", false},
        {R"({"version":"1.5","url":"file:///etc/passwd"})", false},
        {R"~({"version":"1.5","url":"javascript:alert(1)"})~", false},
        {R"({"version":"1.5","url":"https:///path"})", false},
        {R"({"version":"1.5","url":"https://:443/"})", false},
        {R"({"version":"1.5","url":"https://vorlane.app@elsewhere.example/"})", false},
        {R"({"version":"1.5","url":"https://vorlane.app /x"})", false},
        {R"([{"version":"1.5","url":"https://vorlane.app/"}])", false},
        {R"({"version":"1.5","url":"https://vorlane.app/")", false},
        {"<html>Not found</html>", false},
        {"", false},
    };
    for (const auto& [body, valid] : cases) EXPECT_EQ(UpdateFeed::decode(body).has_value(), valid) << body;
}

TEST(UpdateFeed, IsNewerOnlyWithAGreaterVersionNumber) {
    const std::tuple<std::string, Version, std::optional<Version>> cases[] = {
        {"1.5", {1, 4, 9}, Version{1, 5, 0}},
        {"1.5", {1, 5, 0}, std::nullopt},
        {"1.5", {1, 5, 1}, std::nullopt},
        {"v0.0.1", {0, 0, 0}, Version{0, 0, 1}},
        {"beta", {0, 0, 0}, std::nullopt},
    };
    for (const auto& [announced, running, expected] : cases)
        EXPECT_EQ((UpdateFeed{announced, "https://vorlane.app/", {}}.newer(running)), expected) << announced;
}
