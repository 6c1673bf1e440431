#include "TrelkCore/UpdateFeed.h"

#include <gtest/gtest.h>

// Only the download address here; the rest of the decoding goes through the checker's tests.
TEST(UpdateFeed, TakesOnlyAnHTTPSAddressWithAPlainHost) {
    const std::pair<std::string, bool> cases[] = {
        {"https://vorlane.app/dl/trelk.deb", true},
        {"HTTPS://vorlane.app:8443?get=trelk", true},
        {"file:///etc/passwd", false},
        {"https:///path", false},
        {"https://:443/", false},
        {"https://vorlane.app@elsewhere.example/", false},
        {"https://vorlane.app /x", false},
    };
    for (const auto& [url, valid] : cases) {
        const std::string body = R"({"version":"1.5","notes":7,"url":")" + url + R"("})";
        EXPECT_EQ(UpdateFeed::decode(body).has_value(), valid) << url;
    }
}
