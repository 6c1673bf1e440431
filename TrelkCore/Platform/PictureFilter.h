#pragma once
#include <memory>
#include <string>

struct AVFrame;
struct AVFilterGraph;
struct AVFilterContext;
struct AVRational;

namespace Media {

// A libavfilter chain run over decoded pictures, set up for the shape of the first one.
// Failures throw std::runtime_error with FFmpeg's text.
class PictureFilter {
public:
    explicit PictureFilter(std::string chain);
    ~PictureFilter();
    PictureFilter(const PictureFilter&) = delete;
    PictureFilter& operator=(const PictureFilter&) = delete;

    // A decoded frame, its pts on timeBase's clock; null at the end of the pictures.
    void push(AVFrame* frame, AVRational timeBase);
    // The next filtered frame, owned by the filter until the next call; null when the chain
    // needs more pictures or has ended.
    AVFrame* pull();
    bool ended() const { return over; }
    // The clock of the filtered frames' pts.
    AVRational timeBase() const;

private:
    void build(const AVFrame& first, AVRational timeBase);

    std::string chain;
    struct FreeGraph {
        void operator()(AVFilterGraph* graph) const;
    };
    std::unique_ptr<AVFilterGraph, FreeGraph> graph;
    AVFilterContext* source = nullptr;
    AVFilterContext* sink = nullptr;
    struct FreeFrame {
        void operator()(AVFrame* frame) const;
    };
    std::unique_ptr<AVFrame, FreeFrame> filtered;
    bool over = false;
};

} // namespace Media
