// Replies through the real server over loopback: one request per connection, as a browser gets.
#include "TrelkCore/Service/Router.h"
#include "TrelkCore/Service/Server.h"
#include "tests/support/HTTPClient.h"
#include "tests/support/TempFolder.h"

#include <benchmark/benchmark.h>

#include <sys/socket.h>


namespace {

// Serves the one file it was given to every request.
class FileHandler : public RequestHandler {
public:
    explicit FileHandler(std::filesystem::path file) : file(std::move(file)) {}
    UploadStart upload(const HTTPRequest&) override { return {UploadStart::NotUpload{}}; }
    HTTPResponse uploaded(Upload&, std::optional<UploadRefusal>) override { return HTTPResponse::error(500, "none"); }
    HTTPResponse handle(const HTTPRequest& request) override {
        return Router::decorate(Router::file(Files::openRegular(file), file.filename().string(), request), std::nullopt);
    }

private:
    std::filesystem::path file;
};

void fileReply(benchmark::State& state) {
    const int64_t size = state.range(0);
    TempFolder folder;
    const auto path = folder / "master.mov";
    writeFile(path, std::string(size_t(size), 'v'));
    FileHandler handler(path);
    Server server(handler);
    uint16_t port = startListening(server);
    for (auto _ : state) {
        TestSocket socket(port);
        socket.send("GET /file HTTP/1.1\r\n\r\n");
        // Read and drop: keeping the bytes would measure the client's memory, not the server.
        char piece[1 << 16];
        int64_t received = 0;
        ssize_t count;
        while ((count = ::recv(socket.descriptor(), piece, sizeof piece, 0)) > 0) received += count;
        if (received < size) state.SkipWithError("short reply");
    }
    state.SetBytesProcessed(state.iterations() * size);
}
BENCHMARK(fileReply)->Arg(int64_t(1) << 30)->Unit(benchmark::kMillisecond)->UseRealTime();

void parseRequest(benchmark::State& state) {
    const std::string request =
        "GET /trelk/file/a0123456789abcdef0123/clip.wide-3840.mp4?t=0123456789abcdef HTTP/1.1\r\n"
        "Host: 127.0.0.1:47615\r\nOrigin: https://vorlane.app\r\nRange: bytes=1048576-\r\n"
        "User-Agent: Mozilla/5.0 (X11; Linux x86_64)\r\nAccept: */*\r\n\r\n";
    for (auto _ : state) benchmark::DoNotOptimize(HTTPRequest::parse(request));
}
BENCHMARK(parseRequest);

} // namespace

BENCHMARK_MAIN();
